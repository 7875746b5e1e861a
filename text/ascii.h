#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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

// What becomes of a "%" not followed by two hexadecimal digits: the whole
// text refused, or the "%" kept as it stands (to read a text as a browser
// would before judging it).
enum class BadPercent { kRefuse, kKeep };

// "%41" as "A", every other byte as it is, and a form value's "+" as a space
// when `plus_is_space`; nothing when a "%" is not followed by two
// hexadecimal digits, unless `bad` keeps it.
inline std::optional<std::string> DecodePercents(std::string_view text, bool plus_is_space = false,
                                                 BadPercent bad = BadPercent::kRefuse) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (plus_is_space && text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%') {
      const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
      } else if (bad == BadPercent::kRefuse) {
        return std::nullopt;
      } else {
        out += '%';
      }
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace heartpage
