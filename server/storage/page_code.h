#pragma once

#include <string>
#include <string_view>

// A page's code is a word or two its reader knows, so it is kept as nothing
// that could be tried offline quickly: scrypt with a salt of its own, the
// parameters written beside it so that they can grow without a migration.
// Both ways take tens of milliseconds of CPU and some megabytes: they run on
// threads of their own, never in the storage lanes, and what asks for them
// is counted by address.
namespace heartpage::server {

// "scrypt$N$r$p$salt$hash" (hexadecimal salt and hash) of wire::CanonicalCode(code).
std::string HashPageCode(std::string_view code);

// Whether `code` is the one `hash` was made of; false for a hash of no known
// form.
bool PageCodeMatches(std::string_view code, std::string_view hash);

}  // namespace heartpage::server
