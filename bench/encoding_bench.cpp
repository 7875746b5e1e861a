// The posted value encoding against ICU's own conversion of the same text.
#include <benchmark/benchmark.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

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
