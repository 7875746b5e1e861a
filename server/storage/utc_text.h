#pragma once

#include <cstdint>
#include <string>

namespace heartpage::server {

// "YYYY-MM-DD HH:MM:SS" in UTC: how the database, the protocol and the
// operator's tools all write a time, so that one reads like the other.
std::string UtcText(std::int64_t seconds);
// `seconds` in UTC in a strftime form of at most 40 characters written (HTTP's
// "%a, %d %b %Y %H:%M:%S GMT", say).
std::string UtcText(std::int64_t seconds, const char* form);

}  // namespace heartpage::server
