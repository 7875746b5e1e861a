#include "text/gbk.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "text/gbk_tables.h"
#include "text/icu_converter.h"

namespace heartpage {
namespace detail {
namespace {

// GB18030's four-byte forms beyond the BMP, the only conversion left to ICU
// at run time; it reports unmappable input instead of substituting.
UConverter* ThreadGb18030() {
  thread_local const icu_text::Converter converter = icu_text::OpenStrict("gb18030");
  return converter.get();
}

GbBytes QuestionMark() {
  GbBytes out;
  out.size = 1;
  out.bytes[0] = '?';
  return out;
}

// Bytes of one UTF-16 sequence through `converter`; size 0 when unmappable.
GbBytes Convert(UConverter* converter, const UChar* units, int32_t count) {
  GbBytes out;
  if (converter == nullptr) return out;
  char buffer[8];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t size = ucnv_fromUChars(converter, buffer, sizeof buffer, units, count, &status);
  if (U_FAILURE(status) || size < 1 || size > 4) return out;
  out.size = static_cast<std::uint8_t>(size);
  std::copy(buffer, buffer + size, out.bytes.begin());
  return out;
}

}  // namespace

GbBytes SupplementaryBytes(char32_t code_point) {
  if (code_point < 0x10000 || code_point > 0x10FFFF) return QuestionMark();
  const UChar units[2] = {U16_LEAD(code_point), U16_TRAIL(code_point)};
  GbBytes out = Convert(ThreadGb18030(), units, 2);
  return out.size == 0 ? QuestionMark() : out;
}

char32_t FourByteCodePoint(std::string_view four_bytes) {
  return icu_text::DecodeOne(ThreadGb18030(), four_bytes, kInvalid);
}

Utf8Step DecodeUtf8(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) return {lead, 1};
  const std::size_t left = text.size() - pos;
  const auto continuation = [&](std::size_t i, unsigned char low = 0x80,
                                unsigned char high = 0xBF) {
    return i < left && byte(pos + i) >= low && byte(pos + i) <= high;
  };
  if (lead >= 0xC2 && lead <= 0xDF && continuation(1))
    return {static_cast<char32_t>((lead & 0x1F) << 6 | (byte(pos + 1) & 0x3F)), 2};
  if (lead >= 0xE0 && lead <= 0xEF) {
    // 0xED followed by A0..BF is a surrogate written as UTF-8; it is kept as
    // one (unpaired) character so that it becomes a single "?".
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
    if (continuation(1, low) && continuation(2))
      return {static_cast<char32_t>((lead & 0x0F) << 12 | (byte(pos + 1) & 0x3F) << 6 |
                                    (byte(pos + 2) & 0x3F)),
              3};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
    if (continuation(1, low, high) && continuation(2) && continuation(3))
      return {static_cast<char32_t>((lead & 0x07) << 18 | (byte(pos + 1) & 0x3F) << 12 |
                                    (byte(pos + 2) & 0x3F) << 6 | (byte(pos + 3) & 0x3F)),
              4};
  }
  return {kInvalid, 1};
}

}  // namespace detail

namespace {

// Writes the UTF-8 of a valid code point at `cursor`; returns its end.
char* PutUtf8(char* cursor, char32_t cp) {
  if (cp < 0x80) {
    *cursor++ = static_cast<char>(cp);
    return cursor;
  }
  if (cp < 0x800) {
    *cursor++ = static_cast<char>(0xC0 | cp >> 6);
  } else if (cp < 0x10000) {
    *cursor++ = static_cast<char>(0xE0 | cp >> 12);
    *cursor++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
  } else {
    *cursor++ = static_cast<char>(0xF0 | cp >> 18);
    *cursor++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *cursor++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
  }
  *cursor++ = static_cast<char>(0x80 | (cp & 0x3F));
  return cursor;
}

}  // namespace

std::optional<std::string> FromGbkExactly(std::string_view bytes) {
  // ToGbk writes a character at a time, so text whose every character gives
  // back the bytes it was read from gives back all of them. Where one does
  // not, or is not a pair or ASCII, the round trip itself decides.
  std::string out;
  out.resize(bytes.size() + bytes.size() / 2);
  char* cursor = out.data();
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t pos = 0; pos < bytes.size();) {
    const unsigned char lead = at(pos);
    if (lead < 0x80) {
      *cursor++ = static_cast<char>(lead);
      ++pos;
      continue;
    }
    // A four-byte form (an emoji, a rare character) that is written back as
    // itself is read in place: one of them sent the whole page round.
    if (pos + 4 <= bytes.size() && lead != 0xFF && at(pos + 1) >= 0x30 && at(pos + 1) <= 0x39) {
      const std::string_view four = bytes.substr(pos, 4);
      const char32_t cp = detail::FourByteCodePoint(four);
      const detail::GbBytes back = cp == detail::kInvalid ? detail::GbBytes{}
                                   : cp >= 0x10000        ? detail::SupplementaryBytes(cp)
                                                          : detail::BmpBytes(cp);
      if (back.size == 4 && std::string_view(back.bytes.data(), 4) == four) {
        cursor = PutUtf8(cursor, cp);
        pos += 4;
        continue;
      }
    }
    const char32_t cp = pos + 1 < bytes.size() && lead != 0xFF
                            ? detail::PairCodePoint(lead, at(pos + 1))
                            : detail::kInvalid;
    if (cp == detail::kInvalid || cp >= 0x10000 ||
        detail::kBmpBytes[cp] != (static_cast<std::uint32_t>(lead) << 8 | at(pos + 1))) {
      std::string text = FromGbk(bytes);
      if (ToGbk(text) != bytes) return std::nullopt;
      return text;
    }
    cursor = PutUtf8(cursor, cp);
    pos += 2;
  }
  out.resize(static_cast<std::size_t>(cursor - out.data()));
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[4];
  out.append(bytes, PutUtf8(bytes, cp));
}

std::string ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  // Bytes go to a small buffer appended to the result when nearly full, so
  // that no character needs a check of the result's room.
  constexpr std::size_t kFlushAt = 4096;
  std::array<char, kFlushAt + 8> buffer;
  char* cursor = buffer.data();
  const auto put = [&cursor](unsigned byte) { *cursor++ = static_cast<char>(byte); };
  for (std::size_t pos = 0; pos < utf8.size();) {
    if (cursor > buffer.data() + kFlushAt) {
      out.append(buffer.data(), cursor);
      cursor = buffer.data();
    }
    const auto [cp, length] = detail::NextCodePoint(utf8, pos);
    pos += length;
    if (cp < 0x80) {
      put(cp);
    } else if (cp >= 0x10000) {
      const detail::GbBytes unit = detail::SupplementaryBytes(cp);
      cursor = std::copy(unit.bytes.begin(), unit.bytes.begin() + unit.size, cursor);
    } else if (const std::uint32_t packed = detail::kBmpBytes[cp]; packed < 0x100) {
      put(packed);
    } else if (packed < 0x10000) {
      put(packed >> 8);
      put(packed & 0xFF);
    } else {
      for (int shift = 24; shift >= 0; shift -= 8) put(packed >> shift & 0xFF);
    }
  }
  out.append(buffer.data(), cursor);
  return out;
}

std::string FromGbk(std::string_view bytes) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  // As in ToGbk: characters go to a small buffer, appended when nearly full,
  // and ASCII a run at a time; a page is read this way on every store.
  constexpr std::size_t kFlushAt = 4096;
  std::array<char, kFlushAt + 8> buffer;
  char* cursor = buffer.data();
  const auto put = [&cursor](char32_t cp) { cursor = PutUtf8(cursor, cp); };
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (at(pos) < 0x80) {
      std::size_t end = pos + 1;
      while (end < bytes.size() && at(end) < 0x80) ++end;
      out.append(buffer.data(), cursor);
      cursor = buffer.data();
      out.append(bytes, pos, end - pos);
      pos = end;
      continue;
    }
    if (cursor > buffer.data() + kFlushAt) {
      out.append(buffer.data(), cursor);
      cursor = buffer.data();
    }
    const unsigned char lead = at(pos);
    if (lead == 0x80) {  // the euro sign, a single byte in code page 936
      put(0x20AC);
      ++pos;
      continue;
    }
    if (lead == 0xFF || pos + 1 == bytes.size()) {
      put(kReplacement);
      ++pos;
      continue;
    }
    const unsigned char second = at(pos + 1);
    if (second >= 0x30 && second <= 0x39) {
      const char32_t cp = pos + 4 <= bytes.size() ? detail::FourByteCodePoint(bytes.substr(pos, 4))
                                                  : detail::kInvalid;
      if (cp != detail::kInvalid) {
        put(cp);
        pos += 4;
      } else {
        put(kReplacement);
        ++pos;  // the digit is ASCII and is read again on its own
      }
      continue;
    }
    const char32_t cp = detail::PairCodePoint(lead, second);
    put(cp == detail::kInvalid ? kReplacement : cp);
    // An ASCII byte after a bad lead byte stays readable as itself.
    pos += (cp == detail::kInvalid && second < 0x80) ? 1 : 2;
  }
  out.append(buffer.data(), cursor);
  return out;
}

}  // namespace heartpage
