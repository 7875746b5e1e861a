#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace heartpage::server {

// /.well-known/security.txt: where to tell the operator about abuse or a
// flaw of the site, the report form always, and `abuse_contact` when the
// operator named one. `now` dates its expiry.
std::string SecurityTxt(std::string_view public_host, std::string_view abuse_contact,
                        std::int64_t now);

}  // namespace heartpage::server
