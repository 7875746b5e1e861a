// Publish latency over HTTPS next to plain HTTP, on loopback, in one run:
// two heartpage-servers on the same kind of scratch database, one serving
// HTTPS with a certificate made for the run (ECDSA P-256), and publishes
// (name lookup, claim, store of a 25 KB page, each request on a connection
// of its own, as the desktop program makes them) alternating between them so
// that whatever else the machine does falls on both. Prints p50 and p99 of a
// whole publish and the ratio, and the CPU time each server spent per
// publish (the rest of the difference is the client's share of the
// handshakes). Both servers run without per-client rates; a publish that
// fails ends the run with the step and its status, and exit status 1.
//
//   build/bench/publish_tls_bench [PUBLISHES]     (default 200 each)
#include <curl/curl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace {

using heartpage::server::testing::ClaimBody;
using heartpage::server::testing::kNoRateLimits;
using heartpage::server::testing::NameLookup;
using heartpage::server::testing::ScratchDir;
using heartpage::server::testing::ServerProcess;
using heartpage::server::testing::StoreBody;

// About 25 KB once in GBK, as the styles make them.
std::string Page() {
  std::string page = "<html><head><meta charset=\"gbk\"><title>表白</title></head><body>\n";
  while (heartpage::ToGbk(page).size() < 25 * 1024)
    page += "<p class=\"line\">亲爱的，遇见你是我这辈子最美好的事 520 ❤</p>\n";
  return page + "</body></html>\n";
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) {
  return size * count;
}

// One POST on a fresh connection (and, over HTTPS, a full handshake); the
// status, or 0 when the request failed.
long Post(const std::string& url, const std::string& body, const std::string& ca_file) {
  CURL* curl = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Expect:");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  if (!ca_file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, ca_file.c_str());
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return status;
}

// User and system CPU time of a process so far, in milliseconds.
double CpuMilliseconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields 14 and 15; the command name before them may hold spaces.
  std::size_t at = text.rfind(')');
  for (int field = 2; field < 14 && at != std::string::npos; ++field) at = text.find(' ', at + 1);
  if (at == std::string::npos) return 0;
  char* end = nullptr;
  const double user = std::strtod(text.c_str() + at + 1, &end);
  const double system = std::strtod(end, nullptr);
  return (user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Target {
  const char* label;
  pid_t server;
  std::string endpoint;
  std::string ca_file;
  std::vector<double> samples;  // milliseconds per publish
};

// One publish, timed; false, with a line saying which step failed, when one
// did not answer 200.
bool Publish(Target& target, const std::string& name, const std::string& store_body) {
  const struct {
    const char* step;
    std::string body;
  } steps[] = {{"name lookup", NameLookup(name)},
               {"claim", ClaimBody("bench-machine", name)},
               {"store", store_body}};
  const auto start = std::chrono::steady_clock::now();
  for (const auto& [step, body] : steps) {
    const long status = Post(target.endpoint, body, target.ca_file);
    if (status == 200) continue;
    std::fprintf(stderr, "publish_tls_bench: %s of \"%s\" over %s: %s\n", step, name.c_str(),
                 target.label,
                 status == 0 ? "no answer" : ("answered " + std::to_string(status)).c_str());
    return false;
  }
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  target.samples.push_back(took.count());
  return true;
}

double Percentile(std::vector<double> samples, double fraction) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
  return samples[index];
}

}  // namespace

int main(int argc, char** argv) {
  const int publishes = argc > 1 ? std::atoi(argv[1]) : 200;
  if (publishes <= 0) {
    std::fprintf(stderr, "usage: publish_tls_bench [PUBLISHES]\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  ScratchDir scratch;
  const std::string key = (scratch.path() / "key.pem").string();
  const std::string certificate = (scratch.path() / "cert.pem").string();
  const std::string make_certificate =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
      "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
      key + "' -out '" + certificate + "' 2>/dev/null";
  if (std::system(make_certificate.c_str()) != 0) {
    std::fprintf(stderr, "publish_tls_bench: openssl req failed\n");
    return 1;
  }
  ServerProcess plain(scratch.path() / "plain", kNoRateLimits);
  std::vector<std::string> tls_options = kNoRateLimits;
  tls_options.insert(tls_options.end(), {"--tls-cert", certificate, "--tls-key", key});
  ServerProcess tls(scratch.path() / "tls", tls_options);
  Target targets[] = {
      {"http",
       plain.pid(),
       "http://127.0.0.1:" + std::to_string(plain.port()) + "/asp/index.asp",
       "",
       {}},
      {"https",
       tls.pid(),
       "https://127.0.0.1:" + std::to_string(tls.port()) + "/asp/index.asp",
       certificate,
       {}},
  };
  const double cpu_before[] = {CpuMilliseconds(plain.pid()), CpuMilliseconds(tls.pid())};

  const std::string page = Page();
  for (int i = 0; i < publishes; ++i) {
    for (Target& target : targets) {
      const std::string name = "p" + std::to_string(i);
      if (!Publish(target, name, StoreBody("bench-machine", name, page))) {
        std::fprintf(stderr, "publish_tls_bench: failed; no figures\n");
        curl_global_cleanup();
        return 1;
      }
    }
  }

  std::printf(
      "Publish of a 25 KB page (name lookup, claim, store; a new connection per request),\n"
      "%d each over HTTP and HTTPS (TLS, ECDSA P-256) on loopback, alternating\n",
      publishes);
  std::printf("            p50 ms   p99 ms   server CPU ms per publish\n");
  for (int i = 0; i < 2; ++i) {
    const Target& target = targets[i];
    std::printf("  %-6s  %8.2f %8.2f   %8.2f\n", target.label, Percentile(target.samples, 0.5),
                Percentile(target.samples, 0.99),
                (CpuMilliseconds(target.server) - cpu_before[i]) / publishes);
  }
  const double p50 = Percentile(targets[1].samples, 0.5) / Percentile(targets[0].samples, 0.5);
  const double p99 = Percentile(targets[1].samples, 0.99) / Percentile(targets[0].samples, 0.99);
  std::printf("  https/http  %6.2f   %6.2f\n", p50, p99);
  curl_global_cleanup();
  return 0;
}
