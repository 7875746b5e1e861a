#pragma once

#include <string_view>

namespace heartpage::server {

inline constexpr std::size_t kMaxPageNameLength = 30;

// A published page's name: 1 to 30 ASCII letters or digits. Anything else
// (dots, slashes, percent signs, NUL, Chinese) could never have been typed
// into the upload dialog and is refused wherever a name arrives.
constexpr bool IsValidPageName(std::string_view name) {
  if (name.empty() || name.size() > kMaxPageNameLength) return false;
  for (const char c : name) {
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace heartpage::server
