#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The value of one hexadecimal digit, either case; -1 for any other byte.
inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A number written in plain decimal digits, nothing else (no sign, no
// space), of at most `max_digits` digits so that it cannot overflow; up to
// 19 fit 64 bits.
inline std::optional<std::uint64_t> DecimalNumber(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace heartpage
