#pragma once

#include <cstddef>
#include <string_view>

namespace heartpage {

// Whether two texts are equal but for the case of ASCII letters, as header
// names, methods and tokens of HTTP compare. Boost 1.74's beast::iequals
// reads a byte past the end of both when they differ only in case, so what
// clients send is compared with this instead.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace heartpage
