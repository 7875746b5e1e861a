// The server's limits, against the real process: per-client rates, the room
// for pages, a database locked by someone else, and the log that tells who
// did what.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "tests/server/built_page.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using namespace testing;

HttpResponse PostFrom(int port, const char* from, std::string_view body,
                      std::string_view extra_headers = "") {
  std::string request = PostRequest(body);
  request.insert(request.find("\r\n") + 2, extra_headers);
  return Exchange(port, request, false, from);
}

// `body` with its operation's code written with `zeros` in front, as the
// value decoding takes it too.
std::string Spelled(std::string body, std::string_view zeros) {
  return body.insert(3, zeros);
}

class ServerLimitsTest : public ::testing::Test {
 protected:
  ScratchDir data_;
};

TEST_F(ServerLimitsTest, RatesPerClientRoomForPagesAndWhoDidWhat) {
  ServerProcess server(
      data_.path(), {"--claims-per-minute", "1", "--claim-burst", "2", "--stores-per-minute", "1",
                     "--store-burst", "2", "--trusted-proxy", "127.0.0.1", "--max-storage", "1M"});
  const int port = server.port();
  const std::string secret = "WD-SECRET 9";
  ASSERT_EQ(PostFrom(port, "127.0.0.2", ClaimBody(secret, "a1")).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.2", ClaimBody(secret, "a2")).status, 200);
  const std::string before = DumpDatabase(data_.path());
  const HttpResponse refused = PostFrom(port, "127.0.0.2", ClaimBody(secret, "a3"));
  EXPECT_EQ(refused.status, 429);
  EXPECT_GE(std::stoi(refused.Header("retry-after")), 1);
  // Giving a name up takes from the same bucket: claims and releases
  // together cannot churn names.
  EXPECT_EQ(
      PostFrom(port, "127.0.0.2", "zc=55&File=" + EncodeValue("a1") + "&ID=" + EncodeValue(secret))
          .status,
      429);
  EXPECT_EQ(DumpDatabase(data_.path()), before);
  // Only our own proxy may say whom it speaks for.
  EXPECT_EQ(
      PostFrom(port, "127.0.0.2", ClaimBody(secret, "a3"), "X-Forwarded-For: 10.9.9.9\r\n").status,
      429);
  EXPECT_EQ(PostFrom(port, "127.0.0.3", ClaimBody("other", "b1")).status, 200);
  // Refused on its header alone, before it could be limited.
  EXPECT_EQ(PostFrom(port, "127.0.0.2", ClaimBody(secret, "a4"), "Host: twice\r\n").status, 400);
  EXPECT_EQ(PostFrom(port, "127.0.0.1", ClaimBody("third", "c1"),
                     "X-Forwarded-For: 6.6.6.6, 198.51.100.7\r\n")
                .status,
            200);
  // A client's own line comes before the one our proxy adds, in whatever
  // case it is spelled: it names nobody.
  EXPECT_EQ(PostFrom(port, "127.0.0.1", ClaimBody("fifth", "e1"),
                     "x-forwarded-for: 127.0.0.2\r\nX-Forwarded-For:\r\n"
                     "X-FORWARDED-FOR: 198.51.100.8\r\n")
                .status,
            200);

  // Stores have buckets of their own, and the whole server a room for pages.
  const std::string page = BuiltPage(server.host(), std::string(600 * 1024, 'x'));
  EXPECT_EQ(PostFrom(port, "127.0.0.2", StoreBody(secret, "a1", page)).status, 200);
  EXPECT_EQ(PostFrom(port, "127.0.0.2", StoreBody(secret, "a2", page)).status, 507);
  EXPECT_EQ(PostFrom(port, "127.0.0.2", StoreBody(secret, "a2", "small")).status, 429);
  // Previews count as stores, and have an eighth of the room of their own,
  // of which one address may take an eighth.
  EXPECT_EQ(PostFrom(port, "127.0.0.2", PreviewBody(secret, "small")).status, 429);
  EXPECT_EQ(PostFrom(port, "127.0.0.4",
                     PreviewBody("fourth", BuiltPage(server.host(), std::string(129 * 1024, 'x'))))
                .status,
            507);
  EXPECT_EQ(
      PostFrom(port, "127.0.0.4", PreviewBody("fourth", BuiltPage(server.host(), "x"))).status,
      200);
  EXPECT_EQ(
      PostFrom(port, "127.0.0.3", StoreBody("other", "b1", BuiltPage(server.host(), "b1"))).status,
      200);
  EXPECT_EQ(Get(port, "/Test/a2").status, 404);

  // One line per endpoint request: who, what, which name, how it ended; the
  // identifier never, and nothing a client wrote can start a line.
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 429 ",
                                    " 127.0.0.2 claim - \"too many requests\""));
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 200 ", " 198.51.100.7 claim c1 ok"));
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 200 ", " 198.51.100.8 claim e1 ok"));
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 400 ",
                                    " 127.0.0.2 - - \"one Host header needed\""));
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 507 ",
                                    " 127.0.0.2 store a2 \"the server is out of room for pages\""));
  EXPECT_EQ(server.Log().find(secret), std::string::npos);
}

// A client that changes its address within its own /64, the identifier it
// guesses or how it spells an operation is still one client; whatever is
// refused before it is read still names who sent it.
TEST_F(ServerLimitsTest, NeitherNewAddressesNorGuessedIdentifiersDodgeTheRates) {
  ServerProcess server(
      data_.path(), {"--trusted-proxy", "127.0.0.1", "--claims-per-minute", "1", "--claim-burst",
                     "20", "--lookups-per-minute", "3", "--stores-per-minute", "1", "--store-burst",
                     "3", "--max-connections-per-address", "16"});
  const int port = server.port();
  std::vector<int> statuses;
  for (int i = 1; i <= 40; ++i) {
    char forwarded[64];
    std::snprintf(forwarded, sizeof forwarded, "X-Forwarded-For: 2001:db8:1:2:%x::%x\r\n", i, i);
    const std::string claim = ClaimBody("v6", "v" + std::to_string(i));
    statuses.push_back(
        PostFrom(port, "127.0.0.1", i % 2 == 0 ? Spelled(claim, "0") : claim, forwarded).status);
  }
  EXPECT_EQ(std::ranges::count(statuses, 200), 20);
  EXPECT_EQ(std::ranges::count(statuses, 429), 20);
  EXPECT_EQ(
      PostFrom(port, "127.0.0.1", ClaimBody("v6", "w1"), "X-Forwarded-For: 2001:db8:1:3::1\r\n")
          .status,
      200);

  // Asking what an identifier owns has a rate of its own; asking about a
  // name does not spend it.
  const std::string guess = QueryBody("select * from 免费 where 硬盘ID='QM00001'");
  for (const std::string_view zeros : {"", "0", "0000"})
    ASSERT_EQ(PostFrom(port, "127.0.0.5", Spelled(guess, zeros)).status, 200);
  const HttpResponse guessed = PostFrom(port, "127.0.0.5", guess);
  EXPECT_EQ(guessed.status, 429);
  EXPECT_GE(std::stoi(guessed.Header("retry-after")), 1);
  EXPECT_EQ(PostFrom(port, "127.0.0.5",
                     "zc=0056&File=" + EncodeValue("v1") + "&ID=" + EncodeValue("QM00001"))
                .status,
            429);
  EXPECT_EQ(PostFrom(port, "127.0.0.5", NameLookup("v1")).status, 200);
  // A "zc" that names no one operation is refused, whatever it would spend.
  for (const std::string& body :
       std::vector<std::string>{Spelled(guess, "00000"), "zc=049&" + guess,
                                "zc=48A" + guess.substr(3), "zc=51&File=1", "zc=&File=1"})
    EXPECT_EQ(PostFrom(port, "127.0.0.5", body).status, 400) << body;
  EXPECT_EQ(PostFrom(port, "127.0.0.6", guess).status, 200);

  // Storing over another machine's name costs two stores.
  ASSERT_EQ(PostFrom(port, "127.0.0.7", ClaimBody("owner", "mine")).status, 200);
  const std::string theirs = BuiltPage(server.host(), "x");
  EXPECT_EQ(PostFrom(port, "127.0.0.8", StoreBody("QM00001", "mine", theirs)).status, 403);
  EXPECT_EQ(PostFrom(port, "127.0.0.8", Spelled(StoreBody("QM00002", "mine", theirs), "00")).status,
            403);
  EXPECT_EQ(PostFrom(port, "127.0.0.8", StoreBody("QM00003", "mine", theirs)).status, 429);

  // Refused before a request could be read: a malformed one, and one
  // connection too many from an address.
  EXPECT_EQ(Exchange(port, "\x01\x02\r\n\r\n", false, "127.0.0.9").status, 400);
  std::vector<std::unique_ptr<HttpConnection>> held;
  for (int i = 0; i < 16; ++i) held.push_back(std::make_unique<HttpConnection>(port, "127.0.0.10"));
  HttpConnection over(port, "127.0.0.10");
  const auto refusal = over.Read();
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->status, 503);
  for (const std::string client : {"127.0.0.9", "127.0.0.10"})
    EXPECT_TRUE(server.WaitForLog([&](const std::string& line) {
      return line.starts_with("- - ") && line.ends_with(" " + client);
    })) << client;
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 429 ",
                                    " 127.0.0.5 ownership lookup - \"too many requests\""));
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 429 ",
                                    " 127.0.0.5 receipts - \"too many requests\""));
  EXPECT_TRUE(
      server.WaitForLogLine("POST /asp/index.asp 403 ",
                            " 127.0.0.8 store mine \"file name claimed by another machine\""));
}

// Bodies that trickle hold a share of their address's connections, and at
// the connection limit the slowest of them makes way for a newcomer.
TEST_F(ServerLimitsTest, SlowBodiesKeepToTheirShareAndTheSlowestMakesWay) {
  ServerProcess server(data_.path(), {"--max-connections", "8", "--max-bodies-per-address", "4"});
  const int port = server.port();
  std::vector<std::unique_ptr<HttpConnection>> bodies;
  // Begins a body of 1 MB, of which `sent` bytes come now.
  const auto begin = [&](const char* from, std::size_t sent) {
    bodies.push_back(std::make_unique<HttpConnection>(port, from));
    bodies.back()->Send(
        "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
        "Content-Length: 1048576\r\n\r\n");
    const HttpResponse answer = bodies.back()->Read().value_or(HttpResponse{});
    if (answer.status == 100) bodies.back()->Send(std::string(sent, '7'));
    return answer;
  };
  // The faster first, so that the server has read what they sent by the
  // time it must choose.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(begin("127.0.0.3", 256 * 1024).status, 100);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(begin("127.0.0.2", 100).status, 100);
  const HttpResponse over_share = begin("127.0.0.2", 0);
  EXPECT_EQ(over_share.status, 429);
  EXPECT_FALSE(over_share.Header("retry-after").empty());

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Get(port, "/").status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  // The faster bodies were left to finish.
  HttpConnection& fast = *bodies.front();
  ASSERT_TRUE(fast.Send(std::string(1048576 - 256 * 1024, '7')));
  EXPECT_GT(fast.Read().value_or(HttpResponse{}).status, 0);
}

// However fast a client asks, one connection carries only so many requests:
// every one read is answered, the last says so, and the connection ends
// only once they have gone, even with far more asked and the answers larger
// than the kernel holds for the connection.
TEST_F(ServerLimitsTest, AConnectionEndsAfterItsShareOfRequests) {
  ServerProcess server(data_.path(), {"--max-requests-per-connection", "3"});
  const int port = server.port();
  std::string words;
  while (words.size() < 200 * 1024) words += "every answer arrives ";
  const std::string built = BuiltPage(server.host(), words);
  ASSERT_EQ(PostFrom(port, "127.0.0.2", ClaimBody("m", "big")).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.2", StoreBody("m", "big", built)).status, 200);
  const std::string page = ToGbk(built);
  HttpConnection connection(port, "127.0.0.3");
  // A reader slower than the server: the answers wait in the kernel for it.
  connection.Pace(16 * 1024, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  std::string asked;
  for (int i = 0; i < 4000; ++i) asked += "GET /Test/big HTTP/1.1\r\nHost: x\r\n\r\n";
  std::thread asking([&] { connection.Send(asked); });
  std::vector<std::optional<HttpResponse>> answers;
  for (int i = 0; i < 3; ++i) answers.push_back(connection.Read());
  const bool closed = connection.ClosedByServer();
  asking.join();
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(answers[i].has_value()) << i;
    EXPECT_EQ(answers[i]->status, 200);
    EXPECT_TRUE(answers[i]->body == page) << i;
    EXPECT_EQ(answers[i]->Header("connection"), i < 2 ? "" : "close") << i;
  }
  EXPECT_TRUE(closed);
  EXPECT_EQ(Get(port, "/").status, 200);
}

// Bodies that declare much and send little hold what they sent, one
// address no more than its share; when the memory is full the slowest gives
// way, so that a stranger's page always finds room; and however steadily a
// body trickles, it ends at the body timeout.
TEST_F(ServerLimitsTest, TricklingBodiesNeverKeepAStrangersPageOut) {
  ServerProcess server(data_.path(),
                       {"--max-body-memory", "1800K", "--max-body", "1M",
                        "--max-body-memory-per-address", "600K", "--body-timeout", "4"});
  const int port = server.port();
  std::vector<std::unique_ptr<HttpConnection>> bodies;
  const auto begin = [&](const std::string& from, std::size_t sent) {
    bodies.push_back(std::make_unique<HttpConnection>(port, from));
    bodies.back()->Send(
        "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
        "Content-Length: 1048576\r\n\r\n");
    const HttpResponse answer = bodies.back()->Read().value_or(HttpResponse{});
    if (answer.status == 100) bodies.back()->Send(std::string(sent, '7'));
    return answer;
  };
  // Each holds 256K once its 200K have come: six take all the room pages
  // may have; a seventh from the same address is past its share.
  for (const char* from : {"127.0.0.2", "127.0.0.3", "127.0.0.4"})
    for (int i = 0; i < 2; ++i) ASSERT_EQ(begin(from, 200 * 1024).status, 100);
  ASSERT_EQ(begin("127.0.0.2", 200 * 1024).status, 100);
  const HttpResponse over_share = bodies.back()->Read().value_or(HttpResponse{});
  EXPECT_EQ(over_share.status, 429);
  EXPECT_FALSE(over_share.Header("retry-after").empty());

  const std::string stranger = "127.0.0.9";
  ASSERT_EQ(Exchange(port, PostRequest(ClaimBody("stranger", "love")), false, stranger).status,
            200);
  const std::string page =
      StoreBody("stranger", "love", BuiltPage(server.host(), std::string(20 * 1024, 'p')));
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(Exchange(port, PostRequest(page), false, stranger).status, 200) << i;

  // 4K a second is four times the minimum rate, and still too slow for 1M
  // within the body timeout.
  HttpConnection steady(port, "127.0.0.5");
  steady.Send("POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n");
  const auto start = std::chrono::steady_clock::now();
  while (steady.Send(std::string(2048, '7')) &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(12))
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
}

TEST_F(ServerLimitsTest, ALockedDatabaseMakesWritesBusyWhilePagesAreStillServed) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m", "kept")).status, 200);
  const std::string kept = BuiltPage(server.host(), "kept");
  const std::string renewed = BuiltPage(server.host(), "new");
  ASSERT_EQ(Post(port, StoreBody("m", "kept", kept)).status, 200);
  ASSERT_EQ(Get(port, "/Test/kept").status, 200);

  // Another program takes the write lock and keeps it.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((data_.path() / "heartpage.sqlite3").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

  auto store =
      std::async(std::launch::async, [&] { return Post(port, StoreBody("m", "kept", renewed)); });
  auto claim = std::async(std::launch::async, [&] { return Post(port, ClaimBody("m", "late")); });
  // While the writes wait for the lock, reading is not held up behind them.
  const HttpResponse page = Get(port, "/Test/kept");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, ToGbk(kept));
  EXPECT_EQ(Post(port, NameLookup("kept")).status, 200);
  for (auto* waiting : {&store, &claim}) {
    const HttpResponse busy = waiting->get();
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.Header("retry-after"), "2");
  }
  // The client is told to wait; the log says what held it up.
  EXPECT_TRUE(server.WaitForLog([](const std::string& line) {
    return line.starts_with("POST /asp/index.asp 503 ") &&
           line.find(" store kept \"storage busy: ") != std::string::npos;
  }));

  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(Post(port, StoreBody("m", "kept", renewed)).status, 200);
  EXPECT_EQ(Get(port, "/Test/kept").body, ToGbk(renewed));
}

// Pages from one address under ever new identifiers and names are refused,
// told when to come back, once they have grown by that address's share; it
// may still replace its pages with ones no larger, and a stranger still
// publishes.
TEST_F(ServerLimitsTest, OneAddressCannotFillThePagesRoomWithNewIdentifiers) {
  std::vector<std::string> options = kNoRateLimits;
  options.insert(options.end(), {"--pages-per-address", "100K"});
  ServerProcess server(data_.path(), options);
  const int port = server.port();
  const std::string page = BuiltPage(server.host(), std::string(20 * 1024, 'p'));
  HttpResponse refused;
  int stored = 0;
  for (; stored < 20; ++stored) {
    const std::string id = "rotating" + std::to_string(stored);
    const std::string name = "r" + std::to_string(stored);
    ASSERT_EQ(PostFrom(port, "127.0.0.2", ClaimBody(id, name)).status, 200);
    refused = PostFrom(port, "127.0.0.2", StoreBody(id, name, page));
    if (refused.status != 200) break;
  }
  EXPECT_GE(stored, 2);
  EXPECT_LE(stored, 5);
  EXPECT_EQ(refused.status, 429);
  EXPECT_EQ(refused.body, "pages sent from this address have grown all they may today\n");
  EXPECT_GE(std::stoi(refused.Header("retry-after")), 1);
  EXPECT_EQ(Get(port, "/Test/r" + std::to_string(stored)).status, 404);
  EXPECT_EQ(PostFrom(port, "127.0.0.2", StoreBody("rotating0", "r0", page)).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.3", ClaimBody("stranger", "mine")).status, 200);
  EXPECT_EQ(PostFrom(port, "127.0.0.3", StoreBody("stranger", "mine", page)).status, 200);
}

// Pages read past the cache cost their bytes to the address that asks for
// them: one address that has read its share is told to wait, while another
// is served, and pages in the cache cost nothing.
TEST_F(ServerLimitsTest, OneAddressReadsPagesPastTheCacheOnlyAtItsRate) {
  // A page over an eighth of the cache is never kept in it.
  ServerProcess server(
      data_.path(), {"--page-cache", "1M", "--reads-per-address", "16K", "--read-burst", "256K"});
  const int port = server.port();
  const std::string large = BuiltPage(server.host(), std::string(150 * 1024, 'p'));
  const std::string small = BuiltPage(server.host(), "small");
  ASSERT_EQ(PostFrom(port, "127.0.0.3", ClaimBody("m", "large")).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.3", StoreBody("m", "large", large)).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.3", ClaimBody("m", "small")).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.3", StoreBody("m", "small", small)).status, 200);
  const auto get = [&](const char* from, const char* target) {
    return Exchange(port, GetRequest(target), false, from);
  };
  ASSERT_EQ(get("127.0.0.2", "/Test/small").status, 200);  // now in the cache
  HttpResponse refused;
  int read = 0;
  for (; read < 5; ++read) {
    refused = get("127.0.0.2", "/Test/large");
    if (refused.status != 200) break;
    EXPECT_EQ(refused.body, ToGbk(large));
  }
  EXPECT_EQ(read, 2);
  EXPECT_EQ(refused.status, 429);
  EXPECT_GE(std::stoi(refused.Header("retry-after")), 1);
  EXPECT_EQ(get("127.0.0.2", "/Test/small").body, ToGbk(small));
  const HttpResponse stranger = get("127.0.0.4", "/Test/large");
  EXPECT_EQ(stranger.status, 200);
  EXPECT_EQ(stranger.body, ToGbk(large));
  EXPECT_TRUE(
      server.WaitForLogLine("GET /Test/large 429 ", " 127.0.0.2 page - \"too many requests\""));

  // A page held back costs what its reader is shown, the site's small page,
  // not the page it stands for; and one the cache can keep is kept, gate and
  // all, and costs nothing from then on.
  ASSERT_EQ(PostFrom(port, "127.0.0.3", ClaimBody("m", "waits")).status, 200);
  ASSERT_EQ(
      PostFrom(port, "127.0.0.3",
               StoreBody("m", "waits", large) + "&opens=" + EncodeValue("2030-02-14 12:00:00"))
          .status,
      200);
  const std::string coded = BuiltPage(server.host(), std::string(100 * 1024, 'c'));
  ASSERT_EQ(PostFrom(port, "127.0.0.3", ClaimBody("m", "coded")).status, 200);
  ASSERT_EQ(PostFrom(port, "127.0.0.3",
                     StoreBody("m", "coded", coded) + "&code=" + EncodeValue("520") +
                         "&hint=" + EncodeValue("our day"))
                .status,
            200);
  for (int view = 0; view < 10; ++view) {
    const HttpResponse waiting = get("127.0.0.5", "/Test/waits");
    ASSERT_EQ(waiting.status, 200) << "view " << view;
    EXPECT_NE(waiting.body.find("为你开启"), std::string::npos);
  }
  for (int view = 0; view < 50; ++view) {
    const HttpResponse asking = get("127.0.0.6", "/Test/coded");
    ASSERT_EQ(asking.status, 200) << "view " << view;
    EXPECT_NE(asking.body.find("our day"), std::string::npos);
    EXPECT_EQ(asking.body.find("ccccc"), std::string::npos);
  }
}

// Previews from one address under ever new identifiers fill only that
// address's part of their room: the others' previews still find theirs.
TEST_F(ServerLimitsTest, OneAddressCannotTakeThePreviewsRoomWithNewIdentifiers) {
  std::vector<std::string> options = kNoRateLimits;
  options.insert(options.end(), {"--max-storage", "4M"});  // previews: 512K, an address 64K
  ServerProcess server(data_.path(), options);
  const int port = server.port();
  const std::string page = BuiltPage(server.host(), std::string(4000, 'p'));
  HttpResponse refused;
  int stored = 0;
  for (; stored < 64; ++stored) {
    refused = PostFrom(port, "127.0.0.2", PreviewBody("rotating" + std::to_string(stored), page));
    if (refused.status != 200) break;
  }
  EXPECT_GT(stored, 0);
  EXPECT_LT(stored, 17);
  EXPECT_EQ(refused.status, 429);
  EXPECT_EQ(refused.body, "previews from this address take all the room one address may have\n");
  EXPECT_EQ(PostFrom(port, "127.0.0.3", PreviewBody("someone-else", page)).status, 200);
}

}  // namespace
}  // namespace heartpage::server
