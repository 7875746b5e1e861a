#pragma once

// What the benches that publish to a heartpage-server of their own share: the
// server, started without per-client rates, and a run that fails as a whole
// when a single iteration did not do what it times.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/server_process.h"

namespace heartpage::bench {

// A heartpage-server with a scratch data folder on a free loopback port, named
// by HEARTPAGE_HOST for the client code. A bench claims names and stores
// pages from one address far faster than the rates allow any client (10
// claims and 60 stores a minute), and a refusal is answered quickly: with the
// rates on, the figures would time the refusals.
class LocalServer {
 public:
  explicit LocalServer(const std::string& program)
      : server_({program, "--data", data_.path().string(), "--listen", "127.0.0.1:0",
                 "--claims-per-minute", "0", "--stores-per-minute", "0", "--lookups-per-minute",
                 "0"}) {
    setenv("HEARTPAGE_HOST", server_.host().c_str(), 1);
  }

 private:
  testing::TempDir data_;
  testing::ServerProcess server_;
};

inline bool& RunFailed() {
  static bool failed = false;
  return failed;
}

// Ends the benchmark at a failed iteration (the caller then breaks out of its
// loop), says why on stderr and marks the run failed: a median over failures
// is no figure.
inline void FailIteration(benchmark::State& state, const std::string& why) {
  std::fprintf(stderr, "iteration %lld failed: %s\n",
               static_cast<long long>(state.iterations()) + 1, why.c_str());
  state.SkipWithError(why.c_str());
  RunFailed() = true;
}

// The end of main(): 1 after any failed iteration, with a line saying so.
inline int ExitStatus(const char* program) {
  if (!RunFailed()) return 0;
  std::fprintf(stderr, "%s: failed; the figures above are not to be used\n", program);
  return 1;
}

}  // namespace heartpage::bench
