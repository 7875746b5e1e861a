#include "text/value_encoding.h"

#include <array>
#include <charconv>
#include <cstring>

#include "text/gbk_tables.h"

namespace heartpage {
namespace {

using detail::CodeText;

// The text of a code that stands alone: a byte below 0x81 (or 0xFF).
constexpr CodeText SingleCodeText(unsigned byte) {
  CodeText out{};
  char digits[3] = {};
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + byte % 10);
    byte /= 10;
  } while (byte != 0);
  while (count > 0) out.text[out.size++] = digits[--count];
  out.text[out.size++] = 'A';
  return out;
}

constexpr std::array<CodeText, 256> kSingleCodeTexts = [] {
  std::array<CodeText, 256> table{};
  for (unsigned byte = 0; byte < table.size(); ++byte) table[byte] = SingleCodeText(byte);
  return table;
}();

static_assert(sizeof(CodeText) == 8, "codes are copied eight bytes at a time");

// Writes the eight bytes of `code` at `cursor` and returns the end of its
// text: a copy of fixed size is quicker than one of the text's own, and the
// bytes past the text are overwritten by the next code or left out.
inline char* Put(char* cursor, const CodeText& code) {
  std::memcpy(cursor, &code, sizeof code);
  return cursor + code.size;
}

// A character's bytes split into codes: a byte below 0x81 (or 0xFF) stands
// alone, any other byte starts a pair. Four-byte GB18030 forms are two pairs
// whose trails are digits, outside the table of pairs. At most 14 bytes.
char* PutBytes(char* cursor, const detail::GbBytes& unit) {
  for (int i = 0; i < unit.size;) {
    const unsigned lead = static_cast<unsigned char>(unit.bytes[i]);
    if (lead < 0x81 || lead == 0xFF || i + 1 == unit.size) {
      cursor = Put(cursor, kSingleCodeTexts[lead]);
      i += 1;
      continue;
    }
    const unsigned trail = static_cast<unsigned char>(unit.bytes[i + 1]);
    i += 2;
    if (detail::IsPair(lead, trail)) {
      cursor = Put(cursor, detail::kPairCodeTexts[detail::PairIndex(lead, trail)]);
      continue;
    }
    const int code = static_cast<int>(lead * 256 + trail) - 65536;
    cursor = std::to_chars(cursor, cursor + 7, code).ptr;
    *cursor++ = 'A';
  }
  return cursor;
}

}  // namespace

std::string EncodeValue(std::string_view text) {
  std::string out;
  // Chinese text gives about 2.3 characters per byte, ASCII about 3.
  out.reserve(text.size() * 3);
  // Codes go to a small buffer appended to the result when nearly full, so
  // that no character needs a check of the result's room.
  constexpr std::size_t kFlushAt = 4096;
  std::array<char, kFlushAt + 32> buffer;
  char* cursor = buffer.data();
  for (std::size_t pos = 0; pos < text.size();) {
    if (cursor > buffer.data() + kFlushAt) {
      out.append(buffer.data(), cursor);
      cursor = buffer.data();
    }
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      cursor = Put(cursor, kSingleCodeTexts[byte]);
      ++pos;
      continue;
    }
    const auto [cp, length] = detail::NextCodePoint(text, pos);
    pos += length;
    if (cp >= 0x10000) {
      cursor = PutBytes(cursor, detail::SupplementaryBytes(cp));
      continue;
    }
    const std::uint32_t packed = detail::kBmpBytes[cp];
    if (packed < 0x100)
      cursor = Put(cursor, kSingleCodeTexts[packed]);
    else if (packed < 0x10000)
      cursor = Put(cursor, detail::kPairCodeTexts[detail::PairIndex(packed >> 8, packed & 0xFF)]);
    else
      cursor = PutBytes(cursor, detail::BmpBytes(cp));
  }
  out.append(buffer.data(), cursor);
  if (!out.empty()) out.pop_back();  // the last "A"
  return out;
}

std::string EncodeValue(long long number) {
  return EncodeValue(std::to_string(number));
}

std::optional<std::string> DecodeValue(std::string_view codes, std::string* error) {
  std::string bytes;
  if (codes.empty()) return bytes;
  // One pass, a character at a time: a page's store sends some 75,000
  // codes. A piece takes at least one and a half characters, its "A"
  // counted, for each byte it gives.
  bytes.resize((codes.size() + 1) / 3 * 2 + 2);
  char* out = bytes.data();
  const char* at = codes.data();
  const char* const end = at + codes.size();
  for (std::size_t index = 0;; ++index) {
    const char* const piece = at;
    const bool negative = at != end && *at == '-';
    if (negative) ++at;
    const char* const first = at;
    int value = 0;
    while (at != end && static_cast<unsigned>(*at - '0') < 10u && at - first < 6)
      value = value * 10 + (*at++ - '0');
    const bool well_formed = at != first && (at == end || *at == 'A');
    if (negative) value = -value;
    if (!well_formed || value < -32768 || value > 255) {
      if (error != nullptr) {
        const std::string_view rest(piece, static_cast<std::size_t>(end - piece));
        *error = "code " + std::to_string(index + 1) + " (\"" +
                 std::string(rest.substr(0, rest.find('A'))) + "\") " +
                 (well_formed ? "is out of range" : "is not a number");
      }
      return std::nullopt;
    }
    if (value >= 0) {
      *out++ = static_cast<char>(value);
    } else {
      const int word = value + 65536;
      *out++ = static_cast<char>(word >> 8);
      *out++ = static_cast<char>(word & 0xFF);
    }
    // Past the "A"; an empty last piece is refused on the next round.
    if (at == end) break;
    ++at;
  }
  bytes.resize(static_cast<std::size_t>(out - bytes.data()));
  return bytes;
}

}  // namespace heartpage
