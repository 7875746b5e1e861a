// Page building: every style from its defaults, and the growth of a build
// with one very large field (it must stay linear in the page's size); and the
// server's check of a page sent to it.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "pages/builders.h"
#include "pages/link_card.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "server/site/policy/page_check.h"
#include "text/gbk.h"

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

// What a store costs the server before it writes: the page sent (about
// 25 KB in GBK, style 1 ... 8 with the first text field of its message, the
// one its link card quotes, grown to that) read back and built again, as
// CheckSentPage does for every store and preview.
void BM_CheckSentPage(benchmark::State& state) {
  const int style = static_cast<int>(state.range(0));
  const std::string host = "127.0.0.1:8936";
  const HostAddress address = ParseHost(host);
  FieldMap fields = FieldMap::Defaults(GetStyle(style));
  const auto& rows = GetStyle(style).rows;
  const auto text = std::find_if(rows.begin(), rows.end(), [](const FieldRow& row) {
    return row.kind == FieldKind::kText && !NamesSomeone(row);
  });
  std::string& words = fields.values[text->Name()];
  std::string page = ToGbk(BuildPage(style, fields, address));
  while (page.size() < 25 * 1024) {
    words += "亲爱的，遇见你是我这辈子最美好的事 520 ";
    page = ToGbk(BuildPage(style, fields, address));
  }
  if (const server::PageCheck check = server::CheckSentPage(page, host); !check.genuine)
    state.SkipWithError(("page refused: " + check.refusal).c_str());
  for (auto _ : state) benchmark::DoNotOptimize(server::CheckSentPage(page, host).genuine);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_CheckSentPage)->DenseRange(1, 8)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace heartpage
