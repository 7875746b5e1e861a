#pragma once

#include <cstdint>
#include <string>

namespace heartpage::server {

// "YYYY-MM-DD HH:MM:SS" in UTC: how the database, the protocol and the
// operator's tools all write a time, so that one reads like the other.
std::string UtcText(std::int64_t seconds);

}  // namespace heartpage::server
