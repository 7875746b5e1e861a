// Works out the conversion tables of text/gbk_tables.h from ICU's converters
// and writes them as a C++ source file, so that the library carries them as
// constant data: nothing is built at run time, and only the pages of the
// characters in use are ever read in.
//
//   heartpage_make_gbk_tables OUTPUT.cpp
#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/gbk_tables.h"
#include "text/icu_converter.h"

namespace {

using heartpage::detail::kInvalid;
using heartpage::detail::kPairCount;
using heartpage::detail::PairIndex;

using heartpage::icu_text::Converter;
using heartpage::icu_text::OpenStrict;

// The bytes of one BMP character through `converter`; empty when unmappable.
std::string Encode(UConverter* converter, char32_t cp) {
  const UChar unit = static_cast<UChar>(cp);
  char buffer[8];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t size = ucnv_fromUChars(converter, buffer, sizeof buffer, &unit, 1, &status);
  if (U_FAILURE(status) || size < 1 || size > 4) return {};
  return std::string(buffer, static_cast<std::size_t>(size));
}

char32_t Decode(UConverter* converter, std::string_view bytes) {
  return heartpage::icu_text::DecodeOne(converter, bytes, kInvalid);
}

bool IsPrivateUse(char32_t cp) {
  return cp >= 0xE000 && cp <= 0xF8FF;
}

class Tables {
 public:
  Tables() : gbk_(OpenStrict("windows-936")), gb18030_(OpenStrict("gb18030")) {}

  bool Open() const { return gbk_ && gb18030_; }

  // Where code page 936 has only a private-use character for a pair and
  // GB18030 a real one (A8BC, the radicals and rare ideographs of FE50 to
  // FE9F), the pair is read as GB18030 reads it, as browsers do on a page
  // labelled GBK.
  void WorkOutPairs() {
    pairs_.assign(kPairCount, kInvalid);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
        if (trail == 0x7F) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        char32_t cp = Decode(gbk_.get(), {pair, 2});
        const char32_t standard = Decode(gb18030_.get(), {pair, 2});
        if (cp == kInvalid || (IsPrivateUse(cp) && standard != kInvalid && !IsPrivateUse(standard)))
          cp = standard;
        pairs_[PairIndex(lead, trail)] = cp;
      }
    }
  }

  // A character takes the bytes Windows writes for it when they read back as
  // that character, otherwise its GB18030 form, so that text always survives
  // the trip out and back (the private-use characters of the pairs above
  // take four bytes, as does U+F8F5, which Windows writes as a lone 0xFF).
  void WorkOutBmp() {
    bmp_.assign(0x10000, '?');
    for (char32_t cp = 0; cp < 0x10000; ++cp) {
      if (U16_IS_SURROGATE(cp)) continue;
      std::string bytes = Encode(gbk_.get(), cp);
      if (!ReadsBack(bytes, cp)) bytes = Encode(gb18030_.get(), cp);
      if (!ReadsBack(bytes, cp)) continue;
      std::uint32_t packed = 0;
      for (const char byte : bytes) packed = packed << 8 | static_cast<unsigned char>(byte);
      bmp_[cp] = packed;
    }
  }

  std::string Source() const {
    std::string out =
        "// Generated when the library is built, by text/make_gbk_tables.cpp from\n"
        "// ICU " U_ICU_VERSION
        ". Not to be edited.\n"
        "#include \"text/gbk_tables.h\"\n\n"
        "namespace heartpage::detail {\n\n";
    out += "const std::array<std::uint32_t, 0x10000> kBmpBytes = {";
    for (std::size_t i = 0; i < bmp_.size(); ++i) Number(out, i, bmp_[i]);
    out += "};\n\nconst std::array<char32_t, kPairCount> kPairCodePoints = {";
    for (std::size_t i = 0; i < pairs_.size(); ++i) Number(out, i, pairs_[i]);
    out += "};\n\nconst std::array<CodeText, kPairCount> kPairCodeTexts = {{";
    // Every index has its text, the unused trail 0x7F included.
    for (std::size_t i = 0; i < kPairCount; ++i) {
      const auto code = static_cast<int>((0x81 + i / 191) * 256 + 0x40 + i % 191) - 65536;
      const std::string text = std::to_string(code);
      out += i % 8 == 0 ? "\n{{" : " {{";
      for (const char c : text) {
        out += '\'';
        out += c;
        out += "',";
      }
      out += "'A'}, " + std::to_string(text.size() + 1) + "},";
    }
    out += "}};\n\n}  // namespace heartpage::detail\n";
    return out;
  }

 private:
  // Whether `bytes` read back as `cp` through the pairs (or GB18030 for four
  // bytes): the one test every written form must pass.
  bool ReadsBack(const std::string& bytes, char32_t cp) const {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    switch (bytes.size()) {
      case 1:
        return byte(0) < 0x80 ? byte(0) == cp : byte(0) == 0x80 && cp == 0x20AC;
      case 2:
        return byte(0) >= 0x81 && byte(0) <= 0xFE && byte(1) >= 0x40 && byte(1) <= 0xFE &&
               byte(1) != 0x7F && pairs_[PairIndex(byte(0), byte(1))] == cp;
      case 4:
        return Decode(gb18030_.get(), bytes) == cp;
      default:
        return false;
    }
  }

  static void Number(std::string& out, std::size_t index, std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%s0x%X,", index % 12 == 0 ? "\n" : " ", value);
    out += buffer;
  }

  Converter gbk_;
  Converter gb18030_;
  std::vector<std::uint32_t> bmp_;
  std::vector<char32_t> pairs_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.cpp\n", argv[0]);
    return 2;
  }
  Tables tables;
  if (!tables.Open()) {
    std::fprintf(stderr, "ICU has no windows-936 or gb18030 converter\n");
    return 1;
  }
  tables.WorkOutPairs();
  tables.WorkOutBmp();
  std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
  file << tables.Source();
  file.close();
  if (!file) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
