#pragma once

// Internal to net/: the conversions shared by the GBK codec and the value
// encoding, worked out from ICU's converters per character on first use.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace heartpage::detail {

// The bytes that one character becomes on the way out.
struct GbBytes {
  std::uint8_t size = 0;
  std::array<char, 4> bytes{};
};

inline constexpr char32_t kInvalid = 0xFFFFFFFF;

// The bytes a BMP character becomes; surrogates become "?".
GbBytes BmpBytes(char32_t code_point);

// The character a lead and a trail byte stand for; kInvalid where none.
char32_t PairCodePoint(unsigned char lead, unsigned char trail);

// The bytes of a character outside the BMP (always its GB18030 four bytes),
// or of kInvalid ("?").
GbBytes SupplementaryBytes(char32_t code_point);

// The code point of a GB18030 four-byte sequence, or kInvalid.
char32_t FourByteCodePoint(std::string_view four_bytes);

// One step of UTF-8 decoding at `pos`. A three-byte sequence that encodes a
// surrogate yields that surrogate (which converts to "?"), any other
// malformed byte yields kInvalid with length 1.
struct Utf8Step {
  char32_t code_point;
  std::size_t length;
};
Utf8Step NextCodePoint(std::string_view text, std::size_t pos);

}  // namespace heartpage::detail
