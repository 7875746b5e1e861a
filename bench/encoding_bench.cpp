// The posted value encoding against ICU's own conversion of the same text.
#include <benchmark/benchmark.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage {
namespace {

// About 1 MB of a love letter: Chinese with ASCII mark-up in between.
const std::string& MixedText() {
  static const std::string text = [] {
    std::string out;
    while (out.size() < (1 << 20))
      out += "<p>亲爱的，我想和你一起看日出，一起变老。</p>\r\n<br>I love you 520 ";
    return out;
  }();
  return text;
}

void BM_EncodeValue(benchmark::State& state) {
  const std::string& text = MixedText();
  EncodeValue("warm up the tables");
  for (auto _ : state) benchmark::DoNotOptimize(EncodeValue(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_EncodeValue)->Unit(benchmark::kMillisecond);

void BM_ToGbk(benchmark::State& state) {
  const std::string& text = MixedText();
  ToGbk("warm up the tables");
  for (auto _ : state) benchmark::DoNotOptimize(ToGbk(text));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ToGbk)->Unit(benchmark::kMillisecond);

// A sent page's codes: some 25 KB of mark-up, Chinese and digits in no
// regular order, so that the decoder's branches are not learnt by heart as
// they would be on a repeated line.
const std::string& PageCodes() {
  static const std::string codes = [] {
    static constexpr const char* kWords[] = {
        "<p>", "</p>", "亲爱的", "我想和你", "，", "。", "一起看日出", " ", "I love you ",
        "520", "1314", "\r\n", "<br>", "style=\"color:#ff3366\"", "\xF0\x9F\x8C\xB9", "&amp;",
        "你", "z", "<span class=\"line\">", "2026-12-10"};
    std::string text;
    std::uint32_t seed = 20261210;
    while (text.size() < 25 * 1024) {
      seed = seed * 1664525 + 1013904223;
      text += kWords[(seed >> 16) % std::size(kWords)];
    }
    return EncodeValue(text);
  }();
  return codes;
}

void BM_DecodeValue(benchmark::State& state) {
  const std::string& codes = PageCodes();
  for (auto _ : state) benchmark::DoNotOptimize(DecodeValue(codes));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(codes.size()));
}
BENCHMARK(BM_DecodeValue)->Unit(benchmark::kMicrosecond);

// The baseline: ICU converting the same text (as UTF-16, its native form)
// to code page 936 bytes, without writing any digits.
void BM_IcuRawConversion(benchmark::State& state) {
  const std::string& text = MixedText();
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  u_strFromUTF8(nullptr, 0, &units, text.data(), static_cast<int32_t>(text.size()), &status);
  std::vector<UChar> utf16(static_cast<std::size_t>(units));
  status = U_ZERO_ERROR;
  u_strFromUTF8(utf16.data(), units, nullptr, text.data(), static_cast<int32_t>(text.size()),
                &status);
  status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open("windows-936", &status);
  std::vector<char> out(text.size() * 2);
  for (auto _ : state) {
    status = U_ZERO_ERROR;
    benchmark::DoNotOptimize(ucnv_fromUChars(
        converter, out.data(), static_cast<int32_t>(out.size()), utf16.data(), units, &status));
  }
  ucnv_close(converter);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_IcuRawConversion)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace heartpage
