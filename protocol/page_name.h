#pragma once

#include <string>
#include <string_view>

namespace heartpage {

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

// The one spelling a name is kept and compared in: small letters, so that
// "Alice" and "alice" are the same page and can have only one owner.
inline std::string PageNameKey(std::string_view name) {
  std::string key(name);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

}  // namespace heartpage
