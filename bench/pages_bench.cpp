// Page building: every style from its defaults, and the growth of a build
// with one very large field (it must stay linear in the page's size).
#include <benchmark/benchmark.h>

#include "pages/builders.h"
#include "pages/styles.h"

namespace heartpage {
namespace {

void BM_BuildFromDefaults(benchmark::State& state) {
  const int style = static_cast<int>(state.range(0));
  const FieldMap fields = FieldMap::Defaults(GetStyle(style));
  for (auto _ : state) {
    const std::string page = BuildPage(style, fields);
    benchmark::DoNotOptimize(page.data());
  }
}
BENCHMARK(BM_BuildFromDefaults)->DenseRange(1, 8)->Unit(benchmark::kMicrosecond);

void BM_BuildStyle1WithLargeField(benchmark::State& state) {
  FieldMap fields = FieldMap::Defaults(GetStyle(1));
  // Mixed text, so the searches for later keys really scan it.
  std::string value;
  while (value.size() < static_cast<std::size_t>(state.range(0))) value += "我爱你 love ";
  fields.values["Text1(2)"] = value;
  for (auto _ : state) {
    const std::string page = BuildPage(1, fields);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildStyle1WithLargeField)
    ->Arg(1 << 20)
    ->Arg(4 << 20)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace heartpage
