#include "text/gbk.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include <unicode/ucnv.h>

#include "text/gbk_tables.h"

namespace heartpage {
namespace detail {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Converters that report unmappable input instead of substituting, so the
// tables can tell a real mapping from a substitution character.
Converter OpenStrict(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  Converter converter(ucnv_open(name, &status));
  if (U_FAILURE(status)) return nullptr;
  ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFallback(converter.get(), false);
  return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

// Bytes of one UTF-16 sequence through `converter`; size 0 when unmappable.
GbBytes Convert(UConverter* converter, const UChar* units, int32_t count) {
  char buffer[8];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t size = ucnv_fromUChars(converter, buffer, sizeof buffer, units, count, &status);
  GbBytes out;
  if (U_FAILURE(status) || size < 1 || size > 4) return out;
  out.size = static_cast<std::uint8_t>(size);
  std::copy(buffer, buffer + size, out.bytes.begin());
  return out;
}

// The one character that `bytes` decode to through `converter`, or kInvalid.
char32_t Decode(UConverter* converter, std::string_view bytes) {
  UChar units[4];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t count =
      ucnv_toUChars(converter, units, 4, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return kInvalid;
  if (count == 1 && !U16_IS_SURROGATE(units[0])) return units[0];
  if (count == 2 && U16_IS_LEAD(units[0]) && U16_IS_TRAIL(units[1]))
    return U16_GET_SUPPLEMENTARY(units[0], units[1]);
  return kInvalid;
}

GbBytes QuestionMark() {
  GbBytes out;
  out.size = 1;
  out.bytes[0] = '?';
  return out;
}

bool IsPrivateUse(char32_t cp) {
  return cp >= 0xE000 && cp <= 0xF8FF;
}

UConverter* ThreadGbk() {
  thread_local Converter converter = OpenStrict("windows-936");
  return converter.get();
}

UConverter* ThreadGb18030() {
  thread_local Converter converter = OpenStrict("gb18030");
  return converter.get();
}

// Answers are worked out per character on first use and remembered, rather
// than tables of every character built up front: a whole table costs tens of
// milliseconds and a megabyte or two, and start-up needs a dozen characters.
// Zero means "not yet", so untouched parts stay in pages never written; two
// threads working out the same entry store the same value.
constexpr std::uint32_t kNoCharacter = 0xFFFFFFFF;          // stored for kInvalid
std::array<std::atomic<std::uint32_t>, 0x10000> pair_memo;  // code point + 1
std::array<std::atomic<std::uint64_t>, 0x10000> bmp_memo;   // 1, size, bytes

// Whether `unit` reads back as `cp` through the pairs (or GB18030 for four
// bytes): the one test every written form must pass.
bool ReadsBack(const GbBytes& unit, char32_t cp) {
  const auto byte = [&](int i) { return static_cast<unsigned char>(unit.bytes[i]); };
  switch (unit.size) {
    case 1:
      return byte(0) < 0x80 ? byte(0) == cp : byte(0) == 0x80 && cp == 0x20AC;
    case 2:
      return PairCodePoint(byte(0), byte(1)) == cp;
    case 4:
      return Decode(ThreadGb18030(), {unit.bytes.data(), 4}) == cp;
    default:
      return false;
  }
}

// Where code page 936 has only a private-use character for a pair and
// GB18030 a real one (A8BC, the radicals and rare ideographs of FE50 to
// FE9F), the pair is read as GB18030 reads it, as browsers do on a page
// labelled GBK.
char32_t WorkOutPair(unsigned char lead, unsigned char trail) {
  const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  char32_t cp = Decode(ThreadGbk(), {pair, 2});
  const char32_t standard = Decode(ThreadGb18030(), {pair, 2});
  if (cp == kInvalid || (IsPrivateUse(cp) && standard != kInvalid && !IsPrivateUse(standard)))
    cp = standard;
  return cp;
}

// A character takes the bytes Windows writes for it when they read back as
// that character, otherwise its GB18030 form, so that text always survives
// the trip out and back (the private-use characters of the pairs above
// take four bytes, as does U+F8F5, which Windows writes as a lone 0xFF).
GbBytes WorkOutBmp(char32_t cp) {
  if (U16_IS_SURROGATE(cp)) return QuestionMark();
  const UChar unit = static_cast<UChar>(cp);
  GbBytes slot = Convert(ThreadGbk(), &unit, 1);
  if (!ReadsBack(slot, cp)) slot = Convert(ThreadGb18030(), &unit, 1);
  if (!ReadsBack(slot, cp)) slot = QuestionMark();
  return slot;
}

}  // namespace

char32_t PairCodePoint(unsigned char lead, unsigned char trail) {
  if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE || trail == 0x7F) return kInvalid;
  std::atomic<std::uint32_t>& slot = pair_memo[lead * 256u + trail];
  std::uint32_t known = slot.load(std::memory_order_relaxed);
  if (known == 0) {
    const char32_t cp = WorkOutPair(lead, trail);
    known = cp == kInvalid ? kNoCharacter : static_cast<std::uint32_t>(cp) + 1;
    slot.store(known, std::memory_order_relaxed);
  }
  return known == kNoCharacter ? kInvalid : static_cast<char32_t>(known - 1);
}

GbBytes BmpBytes(char32_t code_point) {
  if (code_point >= 0x10000) return QuestionMark();
  std::atomic<std::uint64_t>& slot = bmp_memo[code_point];
  std::uint64_t known = slot.load(std::memory_order_relaxed);
  if (known == 0) {
    const GbBytes unit = WorkOutBmp(code_point);
    known = std::uint64_t{1} << 40 | std::uint64_t{unit.size} << 32;
    for (int i = 0; i < unit.size; ++i)
      known |= std::uint64_t{static_cast<unsigned char>(unit.bytes[i])} << (8 * i);
    slot.store(known, std::memory_order_relaxed);
  }
  GbBytes unit;
  unit.size = static_cast<std::uint8_t>(known >> 32 & 0xFF);
  for (int i = 0; i < unit.size; ++i) unit.bytes[i] = static_cast<char>(known >> (8 * i) & 0xFF);
  return unit;
}

GbBytes SupplementaryBytes(char32_t code_point) {
  if (code_point < 0x10000 || code_point > 0x10FFFF) return QuestionMark();
  const UChar units[2] = {U16_LEAD(code_point), U16_TRAIL(code_point)};
  GbBytes out = Convert(ThreadGb18030(), units, 2);
  return out.size == 0 ? QuestionMark() : out;
}

char32_t FourByteCodePoint(std::string_view four_bytes) {
  return Decode(ThreadGb18030(), four_bytes);
}

Utf8Step NextCodePoint(std::string_view text, std::size_t pos) {
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

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | cp >> 6));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | cp >> 12));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | cp >> 18));
    out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    const auto [cp, length] = detail::NextCodePoint(utf8, pos);
    pos += length;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const detail::GbBytes unit =
        cp < 0x10000 ? detail::BmpBytes(cp) : detail::SupplementaryBytes(cp);
    out.append(unit.bytes.data(), unit.size);
  }
  return out;
}

std::string FromGbk(std::string_view bytes) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  for (std::size_t pos = 0; pos < bytes.size();) {
    const unsigned char lead = at(pos);
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++pos;
      continue;
    }
    if (lead == 0x80) {  // the euro sign, a single byte in code page 936
      AppendUtf8(out, 0x20AC);
      ++pos;
      continue;
    }
    if (lead == 0xFF || pos + 1 == bytes.size()) {
      AppendUtf8(out, kReplacement);
      ++pos;
      continue;
    }
    const unsigned char second = at(pos + 1);
    if (second >= 0x30 && second <= 0x39) {
      const char32_t cp = pos + 4 <= bytes.size() ? detail::FourByteCodePoint(bytes.substr(pos, 4))
                                                  : detail::kInvalid;
      if (cp != detail::kInvalid) {
        AppendUtf8(out, cp);
        pos += 4;
      } else {
        AppendUtf8(out, kReplacement);
        ++pos;  // the digit is ASCII and is read again on its own
      }
      continue;
    }
    const char32_t cp = detail::PairCodePoint(lead, second);
    AppendUtf8(out, cp == detail::kInvalid ? kReplacement : cp);
    // An ASCII byte after a bad lead byte stays readable as itself.
    pos += (cp == detail::kInvalid && second < 0x80) ? 1 : 2;
  }
  return out;
}

}  // namespace heartpage
