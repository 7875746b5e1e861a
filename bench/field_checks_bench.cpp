// Wall time of the checks before preview and upload: style 6 with ten
// addresses (nine pictures and the music) on a local heartpage-server, then
// the same with one picture at an address that takes the request and never
// answers. Prints the median and the slowest of several runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "publish/field_checks.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/server_process.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double median_ms = 0;
  double slowest_ms = 0;
  std::size_t findings = 0;
};

Figures Time(const heartpage::FieldMap& fields, int runs) {
  std::vector<double> times;
  std::size_t findings = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    findings = heartpage::CheckFields(heartpage::GetStyle(6), fields).size();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times.back(), findings};
}

}  // namespace

int main() {
  const heartpage::testing::TempDir data;
  const heartpage::testing::ServerProcess server(HEARTPAGE_SERVER, data.path());
  setenv("HEARTPAGE_HOST", server.host().c_str(), 1);
  const heartpage::testing::LoopbackListener hanging(
      [](const std::string&) { return std::optional<std::string>(); });

  heartpage::FieldMap fields = heartpage::FieldMap::Defaults(heartpage::GetStyle(6));
  // Twelve pictures and the music by default: three pictures emptied leave ten.
  for (const char* emptied : {"Text7(9)", "Text7(10)", "Text7(11)"}) fields.values[emptied] = "";
  const Figures loopback = Time(fields, 30);
  std::printf("ten addresses on loopback:    median %7.1f ms, slowest %7.1f ms, %zu findings\n",
              loopback.median_ms, loopback.slowest_ms, loopback.findings);

  fields.values["Text7(0)"] = hanging.Address("/hang.jpg");
  const Figures hang = Time(fields, 3);
  std::printf("one of them hanging:          median %7.1f ms, slowest %7.1f ms, %zu findings\n",
              hang.median_ms, hang.slowest_ms, hang.findings);
  // A check that failed would be timed as if it had worked.
  if (loopback.findings == 0 && hang.findings == 1) return 0;
  std::fprintf(stderr,
               "field_checks_bench: expected no finding on loopback and one with the hanging "
               "address, got %zu and %zu; the figures above are not to be used\n",
               loopback.findings, hang.findings);
  return 1;
}
