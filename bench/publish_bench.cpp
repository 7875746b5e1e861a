// A whole publish by the client code (name lookup, claim, store of a 25 KB
// page) against a heartpage-server started on a free loopback port with a
// scratch database and no per-client rates. Reports the median of single
// publishes; any publish that fails ends the run with its status and exit
// status 1.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/local_server.h"
#include "pages/builders.h"
#include "pages/styles.h"
#include "publish/upload.h"
#include "text/gbk.h"

namespace {

// About 25 KB once in GBK: style 1 as the program builds it for the local
// server, its first text grown with Chinese and ASCII.
std::string Page() {
  heartpage::FieldMap fields = heartpage::FieldMap::Defaults(heartpage::GetStyle(1));
  std::string& words = fields.values[heartpage::GetStyle(1).rows.front().Name()];
  std::string page = heartpage::BuildPage(1, fields);
  while (heartpage::ToGbk(page).size() < 25 * 1024) {
    words += "亲爱的，遇见你是我这辈子最美好的事 520 ❤ ";
    page = heartpage::BuildPage(1, fields);
  }
  return page;
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// Times one publish; false (the benchmark ended) when it failed.
bool TimedUpload(benchmark::State& state, std::vector<double>& samples, const std::string& name,
                 bool name_owned, const std::string& page,
                 const heartpage::UploadServices& services) {
  const auto start = std::chrono::steady_clock::now();
  const heartpage::UploadOutcome outcome = heartpage::Upload(name, name_owned, page, services);
  samples.push_back(
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  if (outcome.uploaded) return true;
  heartpage::bench::FailIteration(state, "publish of \"" + name + "\": " + outcome.status);
  return false;
}

void BM_PublishNewName(benchmark::State& state) {
  static int next = 0;
  const std::string page = Page();
  const heartpage::UploadServices services{heartpage::PostToEndpoint,
                                           [] { return std::string("bench-machine"); }};
  std::vector<double> samples;
  for (auto _ : state) {
    const std::string name = "n" + std::to_string(getpid()) + "x" + std::to_string(next++);
    if (!TimedUpload(state, samples, name, false, page, services)) break;
  }
  state.counters["median_ms"] = Median(samples);
}
BENCHMARK(BM_PublishNewName)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_RepublishOwnedName(benchmark::State& state) {
  const std::string page = Page();
  const heartpage::UploadServices services{heartpage::PostToEndpoint,
                                           [] { return std::string("bench-owner"); }};
  const std::string name = "owned" + std::to_string(getpid());
  std::vector<double> claim;
  if (!TimedUpload(state, claim, name, false, page, services)) return;
  std::vector<double> samples;
  for (auto _ : state)
    if (!TimedUpload(state, samples, name, true, page, services)) break;
  state.counters["median_ms"] = Median(samples);
}
BENCHMARK(BM_RepublishOwnedName)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  const heartpage::bench::LocalServer server(HEARTPAGE_SERVER);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return heartpage::bench::ExitStatus("publish_bench");
}
