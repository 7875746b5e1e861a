#pragma once

// Internal to text/: the conversions shared by the GBK codec and the value
// encoding. The tables are worked out from ICU when the library is built
// (text/make_gbk_tables.cpp) and carried as constant data: start-up builds
// nothing, and a page of a table is read in only when a character on it is
// first used.

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

// Pairs: lead 0x81 to 0xFE, trail 0x40 to 0xFE but not 0x7F.
inline constexpr std::size_t kPairCount = 126 * 191;
constexpr std::size_t PairIndex(unsigned lead, unsigned trail) {
  return (lead - 0x81) * 191 + (trail - 0x40);
}
constexpr bool IsPair(unsigned lead, unsigned trail) {
  return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

// The bytes each BMP character becomes, big-endian in one word: below 0x100
// one byte, below 0x10000 a pair, otherwise four bytes. Surrogates become
// "?".
extern const std::array<std::uint32_t, 0x10000> kBmpBytes;

// The character each pair stands for (kInvalid where none), by PairIndex.
extern const std::array<char32_t, kPairCount> kPairCodePoints;

// The value encoding's text of each pair's code ("-10544A"), by PairIndex.
struct CodeText {
  std::array<char, 7> text;
  std::uint8_t size;
};
extern const std::array<CodeText, kPairCount> kPairCodeTexts;

// The bytes a BMP character becomes; surrogates become "?".
inline GbBytes BmpBytes(char32_t code_point) {
  GbBytes out;
  if (code_point >= 0x10000) {
    out.size = 1;
    out.bytes[0] = '?';
    return out;
  }
  const std::uint32_t packed = kBmpBytes[code_point];
  out.size = packed < 0x100 ? 1 : packed < 0x10000 ? 2 : 4;
  for (int i = 0; i < out.size; ++i)
    out.bytes[i] = static_cast<char>(packed >> (8 * (out.size - 1 - i)) & 0xFF);
  return out;
}

// The character a lead and a trail byte stand for; kInvalid where none.
inline char32_t PairCodePoint(unsigned char lead, unsigned char trail) {
  return IsPair(lead, trail) ? kPairCodePoints[PairIndex(lead, trail)] : kInvalid;
}

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
Utf8Step DecodeUtf8(std::string_view text, std::size_t pos);

// The same, with ASCII and the three-byte sequences of Chinese read inline:
// those need no check beyond their continuation bytes (neither a surrogate
// nor an overlong form starts with E1 to EF but ED).
inline Utf8Step NextCodePoint(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return {lead, 1};
  if (lead >= 0xE1 && lead <= 0xEF && lead != 0xED && text.size() - pos >= 3) {
    const auto second = static_cast<unsigned char>(text[pos + 1]);
    const auto third = static_cast<unsigned char>(text[pos + 2]);
    if ((second & 0xC0) == 0x80 && (third & 0xC0) == 0x80)
      return {static_cast<char32_t>((lead & 0x0F) << 12 | (second & 0x3F) << 6 | (third & 0x3F)),
              3};
  }
  return DecodeUtf8(text, pos);
}

}  // namespace heartpage::detail
