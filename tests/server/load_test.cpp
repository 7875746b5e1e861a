// The server under crowds of hostile clients on loopback, each test a few
// hundred connections from many source addresses (127.x.y.z): it stays
// within its limits and keeps answering everyone else.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <thread>

#include "tests/support/server_harness.h"
#include "text/value_encoding.h"

namespace heartpage::server {
namespace {

using namespace testing;

std::size_t OpenDescriptors(pid_t pid) {
  const auto fds = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd");
  return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

// Waits for what no event announces, looking every few milliseconds.
template <class Condition>
bool Eventually(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(LoadTest, IdleConnectionStorm) {
  ScratchDir data;
  ServerProcess server(data.path(),
                       {"--max-connections", "200", "--max-connections-per-address", "16"});
  const int port = server.port();
  ASSERT_EQ(Get(port, "/").status, 200);
  const std::size_t resident_before = OwnResidentKb(server.pid());

  // One address past its own limit is turned away at once, and told so.
  std::vector<std::unique_ptr<HttpConnection>> idle;
  for (int i = 0; i < 16; ++i) idle.push_back(std::make_unique<HttpConnection>(port, "127.0.0.2"));
  HttpConnection seventeenth(port, "127.0.0.2");
  const auto refused = seventeenth.Read();
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->status, 503);
  EXPECT_FALSE(refused->Header("retry-after").empty());
  EXPECT_TRUE(seventeenth.ClosedByServer());

  // Nearly twice as many as the server takes, from thirty addresses: those
  // that have waited longest make room for those that come.
  for (int address = 1; address <= 30; ++address)
    for (int i = 0; i < 12; ++i)
      idle.push_back(std::make_unique<HttpConnection>(port, "127.0.1." + std::to_string(address)));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Get(port, "/").status, 200);
  HttpConnection keeps_asking(port, "127.0.2.1");
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(keeps_asking.Send(testing::GetRequest("/")));
    EXPECT_EQ(keeps_asking.Read().value_or(testing::HttpResponse{}).status, 200);
  }

  // The descriptors in use: the connections allowed, the database, the log
  // and the listener, and a few closing.
  EXPECT_LE(OpenDescriptors(server.pid()), 200u + 64u);
  EXPECT_LT(OwnResidentKb(server.pid()), resident_before + kShadowFactor * 32 * 1024);
}

TEST(LoadTest, UnfinishedBodyStorm) {
  ScratchDir data;
  ServerProcess server(data.path(), {"--max-body", "4M", "--max-body-memory", "16M"});
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m", "first")).status, 200);
  const std::size_t resident_before = OwnResidentKb(server.pid());

  // Forty uploads of 4 MB that stop three quarters in: 120 MB sent, held by
  // a server without a budget.
  constexpr int kUploads = 40;
  const std::string header = "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                             std::to_string(4 * 1024 * 1024) + "\r\n\r\n";
  const std::string most(3 * 1024 * 1024, '7');
  std::vector<std::unique_ptr<HttpConnection>> uploads;
  std::vector<std::thread> senders;
  for (int i = 0; i < kUploads; ++i) {
    uploads.push_back(std::make_unique<HttpConnection>(port, "127.0.3." + std::to_string(i + 1)));
    senders.emplace_back(
        [&, connection = uploads.back().get()] { connection->Send(header + most); });
  }
  for (std::thread& sender : senders) sender.join();
  EXPECT_TRUE(Eventually([&] {
    for (const auto& upload : uploads)
      if (upload->Unsent() > 0) return false;
    return true;
  })) << "the server stopped reading";
  // The budget and half as much again for everything else: the bodies
  // refused or given way while they still drain hold nothing, though the
  // connections stay open a moment.
  EXPECT_LT(OwnResidentKb(server.pid()),
            resident_before + kShadowFactor * 24 * 1024 + kQuarantineKb);

  // Those the budget had no room for were refused, or gave way to others.
  EXPECT_TRUE(Eventually([&] {
    const std::string log = server.Log();
    int busy = 0;
    for (std::size_t at = 0; (at = log.find("POST /asp/index.asp 503 ", at)) != std::string::npos;
         ++at)
      ++busy;
    return busy >= kUploads * 3 / 4;
  }));
  // Everyone else is answered, their short requests included.
  EXPECT_EQ(Post(port, ClaimBody("m", "second")).status, 200);
  EXPECT_EQ(Get(port, "/").status, 200);
}

// With fewer descriptors than the connection limit counts on, the clients
// past them hear at once instead of waiting, and the server recovers.
TEST(LoadTest, RunningOutOfDescriptors) {
  ScratchDir data;
  ServerProcess server(data.path(), {"--max-connections", "1000"}, 64);
  const int port = server.port();
  std::vector<std::unique_ptr<HttpConnection>> held;
  for (int i = 0; i < 100; ++i) {
    held.push_back(std::make_unique<HttpConnection>(port, "127.0.4." + std::to_string(i % 4 + 1)));
    held.back()->LimitWaiting(30);
    held.back()->Send(testing::GetRequest("/"));
  }
  int answered = 0;
  for (const auto& connection : held) {
    const auto response = connection->Read();
    EXPECT_FALSE(connection->TimedOut()) << "a client left waiting";
    if (response && response->status == 200) ++answered;
  }
  EXPECT_GT(answered, 0);
  EXPECT_LT(answered, 100);
  held.clear();

  // Descriptors free again: clients are served (once the server notices).
  int status = 0;
  for (int attempt = 0; attempt < 100 && status != 200; ++attempt) status = Get(port, "/").status;
  EXPECT_EQ(status, 200);
}

}  // namespace
}  // namespace heartpage::server
