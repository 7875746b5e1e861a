// Raw bytes into a connection, over a socket pair: whatever arrives, the
// session answers each request it reads exactly once, in order, with a
// well-formed answer, closes after an answer that says so, never sends a file
// from outside the asset folders and neither crashes nor hangs.
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "server/http/http_message.h"
#include "server/http/session.h"
#include "server/storage/storage_workers.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/memory_storage.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace server = heartpage::server;

namespace {

constexpr std::size_t kMaxBody = 2048;
constexpr std::size_t kHeaderLimit = 16 * 1024;  // as the session reads
constexpr std::string_view kSecret = "f6c1e0b2-not-an-asset";

struct Harness {
  Harness() : storage(true) {
    dir = std::filesystem::temp_directory_path() /
          ("heartpage-session-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "assets" / "music");
    std::ofstream(dir / "assets" / "a.js") << "var a = 1;\n";
    std::ofstream(dir / "assets" / "music" / "b.mp3") << "ID3";
    std::ofstream(dir / "secret.txt") << kSecret;
    server::ServerConfig config;
    config.public_host = "pages.example:80";
    config.max_body = kMaxBody;
    config.asset_dirs = {dir / "assets"};
    // Every input is one client: rates would only hide the code behind 429.
    config.rates[server::Work::kClaim].per_minute = 0;
    config.rates[server::Work::kStore].per_minute = 0;
    shared = std::make_shared<server::ServerShared>(config, storage);
    shared->workers = &workers;
  }
  ~Harness() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  // A claimed name with its page, so that page answers (and their ranges
  // and validators) are reachable without a store first.
  void Reset() {
    storage.Clear();
    const server::MachineIdHash owner = storage.HashMachineId("m1");
    storage.ClaimName(owner, "abc");
    storage.StorePage(owner, "abc", "<p>a published page</p>");
  }

  asio::io_context io;
  heartpage::fuzz::MemoryStorage storage;
  std::filesystem::path dir;
  std::shared_ptr<server::ServerShared> shared;
  server::StorageWorkers workers{{}};
};

// One request as the session's parser reads it, or the malformed one that
// ends the reading. A whole request is owed an answer; a malformed one may
// get one or not, since the parser finds some faults only once the header is
// whole, and bytes delivered piecemeal may end before that.
struct Expected {
  bool head = false;
  bool whole = false;
};

std::vector<Expected> RequestsIn(std::string_view bytes) {
  std::vector<Expected> requests;
  while (!bytes.empty()) {
    http::request_parser<http::string_body> parser;
    // The header first, as the server judges it before any body (whose
    // trailer fields the parser would merge in, and whose declared length
    // it would refuse before the header is whole).
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    parser.header_limit(kHeaderLimit);
    beast::error_code ec;
    std::size_t used = parser.put(asio::buffer(bytes.data(), bytes.size()), ec);
    if (!ec && parser.is_header_done()) {
      // Refused for its framing (folded lines among it) or its declared
      // length as soon as the server has the header: one refusal, then the
      // end.
      const auto length = parser.content_length();
      if (server::FramingProblem(parser.get()) || server::HasFoldedLine(bytes.substr(0, used)) ||
          (length && *length > kMaxBody)) {
        requests.push_back({parser.get().method() == http::verb::head, false});
        break;
      }
      parser.body_limit(kMaxBody);
      parser.eager(true);
      if (!parser.is_done() && used < bytes.size())
        used += parser.put(asio::buffer(bytes.data() + used, bytes.size() - used), ec);
    }
    // The body or header was cut off by the end of the bytes: no answer.
    if (ec == http::error::need_more || (!ec && !parser.is_done())) break;
    if (ec) {
      requests.push_back(
          {parser.is_header_done() && parser.get().method() == http::verb::head, false});
      break;
    }
    bytes.remove_prefix(used);
    const bool keep_alive = parser.get().keep_alive();
    requests.push_back({parser.get().method() == http::verb::head, true});
    if (!keep_alive) break;
  }
  return requests;
}

struct Answer {
  unsigned status = 0;
  bool keep_alive = false;
};

// The answers in `bytes`, interim ones left out; false when the bytes are not
// a sequence of whole, well-formed answers.
bool ParseAnswers(std::string_view bytes, const std::vector<Expected>& requests,
                  std::vector<Answer>& answers) {
  while (!bytes.empty()) {
    http::response_parser<http::string_body> parser;
    parser.eager(true);
    parser.body_limit(boost::none);
    const std::size_t index = answers.size();
    if (index < requests.size() && requests[index].head) parser.skip(true);
    beast::error_code ec;
    std::size_t used = parser.put(asio::buffer(bytes.data(), bytes.size()), ec);
    if (!ec && !parser.is_done()) {
      // A body without a length ends with the connection.
      parser.put_eof(ec);
      used = bytes.size();
    }
    if (ec || !parser.is_done()) return false;
    bytes.remove_prefix(used);
    const unsigned status = parser.get().result_int();
    if (status >= 100 && status < 200) continue;
    answers.push_back({status, parser.get().keep_alive()});
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  harness.Reset();
  const std::string_view input = heartpage::fuzz::AsText(data, size);

  int fds[2];
  FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
  server::Socket socket(harness.io);
  socket.assign(asio::ip::tcp::v4(), fds[0]);
  server::StartSession(std::move(socket), harness.shared, asio::ip::address());

  // The client sends everything and ends its side, reading all the while.
  const int client = fds[1];
  std::size_t sent = 0;
  bool ended = false;
  std::string received;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    if (sent < input.size()) {
      const ssize_t n =
          send(client, input.data() + sent, input.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN) sent = input.size();  // the session hung up
    }
    if (sent == input.size() && !ended) {
      shutdown(client, SHUT_WR);
      ended = true;
    }
    harness.io.restart();
    const std::size_t handled = harness.io.poll();
    char chunk[16384];
    const ssize_t n = recv(client, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) received.append(chunk, static_cast<std::size_t>(n));
    if (n == 0 || (n < 0 && errno != EAGAIN)) break;
    if (handled == 0 && n < 0) {  // nothing to do until the session moves
      harness.io.restart();
      harness.io.run_one_for(std::chrono::milliseconds(1));
    }
    FUZZ_CHECK(std::chrono::steady_clock::now() < give_up);  // neither answered nor closed
  }
  close(client);
  harness.io.restart();
  harness.io.run_for(std::chrono::seconds(5));
  FUZZ_CHECK(harness.shared->Open().empty());  // the session ended with its client

  const std::vector<Expected> requests = RequestsIn(input);
  std::vector<Answer> answers;
  FUZZ_CHECK(ParseAnswers(received, requests, answers));
  FUZZ_CHECK(answers.size() <= requests.size());
  for (std::size_t i = 0; i < answers.size(); ++i) {
    FUZZ_CHECK(answers[i].status >= 200 && answers[i].status < 500);
    if (!answers[i].keep_alive) FUZZ_CHECK(i + 1 == answers.size());
  }
  // A session that kept the connection open answered every whole request.
  if (answers.empty() || answers.back().keep_alive)
    FUZZ_CHECK(std::ssize(answers) == std::ranges::count_if(requests, &Expected::whole));
  // The secret can reach an answer honestly only as the client's own bytes:
  // echoed in a refusal, or published in a page.
  bool planted = input.find(kSecret) != std::string_view::npos;
  for (const auto& [name, page] : harness.storage.Contents().pages)
    planted = planted || page.find(kSecret) != std::string::npos;
  if (!planted) FUZZ_CHECK(received.find(kSecret) == std::string::npos);
  return 0;
}
