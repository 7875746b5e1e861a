// Several servers on one PostgreSQL database, as a site behind a load
// balancer runs them: the real binaries, a real cluster of the test's own.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <thread>

#include "protocol/receipts.h"
#include "tests/server/built_page.h"
#include "server/storage/postgres/pg_connection.h"
#include "tests/server/pg_cluster.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using namespace testing;

class PostgresTest : public ::testing::Test {
 protected:
  std::vector<std::string> Database(std::vector<std::string> extra = kNoRateLimits) {
    extra.insert(extra.end(), {"--database", uri_});
    return extra;
  }
  PostgresCluster& cluster_ = PostgresCluster::Shared();
  std::string uri_ = cluster_.NewDatabase();
};

// Statements run later go with the next one; whichever of them fails, the
// transaction changes nothing, says why, and the connection serves on.
TEST_F(PostgresTest, StatementsSentTogetherFailAndCommitAsOne) {
  PgConnection db(uri_);
  db.Exec("CREATE TABLE t (k integer PRIMARY KEY, v bytea)");
  const auto count = [&] { return db.Run("SELECT count(*) FROM t").Int(0, 0); };
  db.Transaction([&] {
    std::string bytes("a\0b", 3);
    db.RunLater("INSERT INTO t VALUES (1, $1)", {SqlValue::Bytes(bytes)});
    bytes = "gone";  // the values were copied
    db.RunLater("INSERT INTO t VALUES (2, $1)", {SqlValue::Bytes("c")});
    EXPECT_EQ(db.Run("SELECT v FROM t WHERE k = 1").Get(0, 0), "\\x610062");
    return 0;
  });
  EXPECT_EQ(count(), 2);
  for (const bool fails_last : {false, true}) {
    SCOPED_TRACE(fails_last);
    EXPECT_THROW(db.Transaction([&] {
      db.RunLater("INSERT INTO t VALUES (3, NULL)");
      db.RunLater("INSERT INTO t VALUES (1, NULL)");  // taken
      if (!fails_last) db.Run("SELECT 1");
      return 0;
    }),
                 StorageError);
    EXPECT_FALSE(db.Broken());
    EXPECT_EQ(count(), 2);
  }
}

// Version `version` of a page of the site at `host`.
std::string Page(const std::string& host, int version) {
  return BuiltPage(host, "版本" + std::to_string(version));
}

TEST_F(PostgresTest, TwoServersShareClaimsAndEveryStoreIsServedByTheOtherAtOnce) {
  ServerProcess a({}, Database());
  ServerProcess b({}, Database());
  constexpr int kClaims = 20;
  std::latch start(kClaims);
  std::atomic<int> won = 0, taken = 0;
  std::vector<std::thread> claims;
  for (int i = 0; i < kClaims; ++i)
    claims.emplace_back([&, i] {
      start.arrive_and_wait();
      const int status =
          Post(i % 2 == 0 ? a.port() : b.port(), ClaimBody("m" + std::to_string(i), "race")).status;
      (status == 200 ? won : taken) += status == 200 || status == 409;
    });
  for (std::thread& claim : claims) claim.join();
  EXPECT_EQ(won, 1);
  EXPECT_EQ(taken, kClaims - 1);

  ASSERT_EQ(Post(a.port(), ClaimBody("owner", "shared")).status, 200);
  // Each server keeps the page in memory after its first answer; every store
  // through the other must replace it there before it is acknowledged.
  for (int version = 0; version < 60; ++version) {
    ServerProcess& writer = version % 3 == 0 ? b : a;
    ServerProcess& reader = &writer == &a ? b : a;
    const std::string page = Page(writer.host(), version);
    ASSERT_EQ(Post(writer.port(), StoreBody("owner", "shared", page)).status, 200);
    const HttpResponse served = Get(reader.port(), "/Test/shared");
    ASSERT_EQ(served.status, 200);
    ASSERT_EQ(FromGbk(served.body), page) << "stale after store " << version;
    ASSERT_EQ(FromGbk(Get(writer.port(), "/Test/Shared").body), page);
  }
  EXPECT_EQ(Post(b.port(), StoreBody("intruder", "shared", Page(b.host(), 0))).status, 403);
}

// A server killed in the middle of a stream of stores loses none that it
// acknowledged: the other serves each, as acknowledged or newer.
TEST_F(PostgresTest, AcknowledgedStoresSurviveAKilledServer) {
  ServerProcess other({}, Database());
  std::map<std::string, int> acknowledged;
  std::mutex mutex;
  {
    ServerProcess doomed({}, Database());
    for (int i = 0; i < 8; ++i)
      ASSERT_EQ(Post(doomed.port(), ClaimBody("m", "p" + std::to_string(i))).status, 200);
    std::atomic<bool> stop = false;
    std::latch enough(40);
    std::thread writer([&] {
      for (int i = 0; !stop; ++i) {
        const std::string name = "p" + std::to_string(i % 8);
        try {
          if (Post(doomed.port(), StoreBody("m", name, Page(doomed.host(), i))).status != 200)
            return;
        } catch (const std::exception&) {
          return;  // the server is gone
        }
        std::lock_guard lock(mutex);
        acknowledged[name] = i;
        if (i < 40) enough.count_down();
      }
    });
    enough.wait();
    doomed.Signal(SIGKILL);
    EXPECT_TRUE(WIFSIGNALED(doomed.Wait()));
    stop = true;
    writer.join();
  }
  ASSERT_EQ(acknowledged.size(), 8u);
  for (const auto& [name, version] : acknowledged) {
    const std::string served = FromGbk(Get(other.port(), "/Test/" + name).body);
    const int found = std::stoi(served.substr(served.find("版本") + 6));
    EXPECT_GE(found, version) << name;
  }
}

// While the database is down: the endpoint answers 503 and changes nothing,
// pages in memory are still served, and a server that starts meanwhile says
// why it cannot serve yet. Once it is back, everything works again and no
// acknowledged store is lost.
TEST_F(PostgresTest, RidesOutADatabaseRestart) {
  ServerProcess a({}, Database());
  ASSERT_EQ(Post(a.port(), ClaimBody("m", "kept")).status, 200);
  ASSERT_EQ(Post(a.port(), StoreBody("m", "kept", Page(a.host(), 1))).status, 200);
  ASSERT_EQ(Get(a.port(), "/Test/kept").status, 200);

  cluster_.Stop();
  ServerProcess late({}, Database());
  EXPECT_TRUE(late.WaitForLog([](const std::string& line) {
    return line.find("database unavailable") != std::string::npos &&
           line.find("answering 503 until it can be reached") != std::string::npos;
  }));
  for (const int port : {a.port(), late.port()}) {
    const HttpResponse busy = Post(port, StoreBody("m", "kept", Page(a.host(), 2)));
    EXPECT_EQ(busy.status, 503);
    EXPECT_FALSE(busy.Header("retry-after").empty());
    EXPECT_EQ(Post(port, QueryBody("select * from 系统设置")).status, 503);
  }
  EXPECT_EQ(FromGbk(Get(a.port(), "/Test/kept").body), Page(a.host(), 1));
  EXPECT_EQ(Get(a.port(), "/Test/never").status, 503);

  cluster_.Start();
  for (ServerProcess* server : {&a, &late})
    ASSERT_TRUE(server->WaitForLogWith("watching page changes again"));
  EXPECT_EQ(Post(a.port(), QueryBody("select * from 系统设置")).status, 200);
  EXPECT_EQ(Post(late.port(), QueryBody("select * from 系统设置")).status, 200);
  ASSERT_EQ(Post(late.port(), StoreBody("m", "kept", Page(late.host(), 3))).status, 200);
  EXPECT_EQ(FromGbk(Get(a.port(), "/Test/kept").body), Page(late.host(), 3));
  EXPECT_EQ(Get(late.port(), "/Test/never").status, 404);
}

// A site moves from its SQLite folder to PostgreSQL without its clients
// noticing: every answer byte for byte as before, every name with its owner.
// Importing again copies nothing twice.
TEST_F(PostgresTest, ImportedSiteAnswersExactlyAsItDid) {
  ScratchDir folder;
  const std::vector<std::string> asked = {QueryBody("select * from 系统设置"),
                                          QueryBody("select * from 免费 where 硬盘ID='M 1'"),
                                          NameLookup("Alice"), NameLookup("nobody")};
  const auto answers = [&](int port) {
    std::vector<std::string> seen;
    for (const std::string& body : asked) {
      const HttpResponse answer = Post(port, body);
      seen.push_back(std::to_string(answer.status) + " " + answer.body);
    }
    for (const char* page : {"/Test/alice", "/Test/BOB9", "/Test/nobody"}) {
      const HttpResponse answer = Get(port, page);
      seen.push_back(std::to_string(answer.status) + " " + answer.Header("etag") + " " +
                     answer.Header("last-modified") + " " + answer.body);
    }
    return seen;
  };
  std::vector<std::string> before;
  {
    ServerProcess old(folder.path(), {"--announcement", "搬家了", "--public-host", "pages.test"});
    ASSERT_EQ(Post(old.port(), ClaimBody("M 1", "alice")).status, 200);
    ASSERT_EQ(Post(old.port(), StoreBody("M 1", "alice", BuiltPage("pages.test", "爱丽丝"))).status,
              200);
    ASSERT_EQ(Post(old.port(), ClaimBody("M\t2", "bob9")).status, 200);
    ASSERT_EQ(Post(old.port(),
                   StoreBody("M\t2", "bob9", BuiltPage("pages.test", std::string(100000, 'b'))))
                  .status,
              200);
    before = answers(old.port());
  }
  const auto import = [&] {
    ChildProcess run({"/bin/sh", "-c", "exec \"$0\" \"$@\" 1>&2", HEARTPAGE_SERVER_BINARY,
                      "--import-sqlite", folder.path().string(), "--database", uri_});
    EXPECT_EQ(run.Wait(), 0) << run.Log();
    return run.Log();
  };
  EXPECT_NE(import().find(": 1 settings, 2 claims (0 already there, 0 held there by another "
                          "machine and left out), 2 pages (0 already there, 0 left out)"),
            std::string::npos);
  EXPECT_NE(import().find(", 0 claims (2 already there, 0 held there by another machine and left "
                          "out), 0 pages (2 already there, 0 left out)"),
            std::string::npos);

  ServerProcess moved({}, Database({"--public-host", "pages.test"}));
  EXPECT_EQ(answers(moved.port()), before);
  EXPECT_EQ(Post(moved.port(), StoreBody("M\t2", "alice", BuiltPage("pages.test", "x"))).status,
            403);
  EXPECT_EQ(Post(moved.port(), StoreBody("M 1", "alice", BuiltPage("pages.test", "新"))).status,
            200);
}

// The operator's takedown is acknowledged once every server dropped the page
// it kept: both answer 451 the moment the tool returns, and the page again
// once restored.
TEST_F(PostgresTest, ATakedownIsFollowedByEveryServerBeforeTheToolReturns) {
  ServerProcess a({}, Database());
  ServerProcess b({}, Database());
  const std::string page = BuiltPage(a.host(), "撤下测试");
  ASSERT_EQ(Post(a.port(), ClaimBody("m", "gone")).status, 200);
  ASSERT_EQ(Post(a.port(), StoreBody("m", "gone", page)).status, 200);
  for (ServerProcess* server : {&a, &b}) ASSERT_EQ(Get(server->port(), "/Test/gone").status, 200);

  const auto admin = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {HEARTPAGE_SERVER_BINARY, "admin", "--database", uri_});
    return heartpage::testing::RunProgram(args);
  };
  const auto taken = admin({"takedown", "gone", "--reason", "abuse"});
  ASSERT_EQ(taken.status, 0) << taken.err;
  for (ServerProcess* server : {&a, &b}) EXPECT_EQ(Get(server->port(), "/Test/gone").status, 451);
  EXPECT_EQ(Post(b.port(), StoreBody("m", "gone", page)).status, 451);
  ASSERT_EQ(admin({"restore", "gone"}).status, 0);
  for (ServerProcess* server : {&a, &b})
    EXPECT_EQ(Get(server->port(), "/Test/gone").body, ToGbk(page));

  const auto backup = admin({"backup", "/nonexistent/copy"});
  EXPECT_NE(backup.status, 0);
  EXPECT_NE(backup.err.find("pg_dump"), std::string::npos) << backup.err;
}

// A report sent to a server is read by the operator's tool, a second
// process; a word that tool denies refuses the next store on the server.
TEST_F(PostgresTest, ReportsAndTheDenyListAreSharedWithTheOperatorsTool) {
  ServerProcess server({}, Database());
  const int port = server.port();
  ASSERT_EQ(Exchange(port, PostRequest("page=shared&reason=%E9%AA%97%E5%AD%90", "/report")).status,
            200);
  const auto admin = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {HEARTPAGE_SERVER_BINARY, "admin", "--database", uri_});
    const auto run = heartpage::testing::RunProgram(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
  };
  EXPECT_NE(admin({"reports"}).find("shared\n    骗子\n"), std::string::npos);

  ASSERT_EQ(Post(port, ClaimBody("m", "shared")).status, 200);
  const std::string page = BuiltPage("127.0.0.1:" + std::to_string(port), "点这里领红包");
  admin({"deny", "add", "word", "领红包"});
  EXPECT_EQ(Post(port, StoreBody("m", "shared", page)).status, 422);
  admin({"deny", "remove", "word", "领红包"});
  EXPECT_EQ(Post(port, StoreBody("m", "shared", page)).status, 200);
}

// What one server's visitors send back, the other server's owner reads; a
// page's rate holds for both servers together.
TEST_F(PostgresTest, AnswersSentToOneServerAreReadThroughTheOther) {
  ServerProcess a({}, Database());
  ServerProcess b({}, Database());
  ASSERT_EQ(Post(a.port(), ClaimBody("m", "asks")).status, 200);
  ASSERT_EQ(
      Post(a.port(), StoreBody("m", "asks", AskingPage(a.host(), "第一行", "在一起吗？"))).status,
      200);
  const auto answer = [](int port, std::string_view path, std::string_view body,
                         const std::string& source) {
    return Exchange(port,
                    "POST " + std::string(path) +
                        " HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: null\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + std::string(body),
                    false, source)
        .status;
  };
  EXPECT_EQ(answer(a.port(), "/api/opened/asks", "", "127.0.0.1"), 204);
  // Twice the page's minute with the newcomers beyond it, whichever server.
  // Newcomers are counted by the clock's minute, so a run that crosses one
  // may let in up to all four more.
  const auto minute = [] {
    return std::chrono::duration_cast<std::chrono::minutes>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  const auto first_minute = minute();
  int answered = 0;
  for (int i = 0; i < 44; ++i)
    answered += answer(i % 2 == 0 ? a.port() : b.port(), "/api/answer/asks", "answer=1",
                       "127.0.0." + std::to_string(10 + i)) == 204;
  if (minute() == first_minute)
    EXPECT_EQ(answered, 40);
  else
    EXPECT_GE(answered, 40);

  const HttpResponse read =
      Post(b.port(), "zc=56&File=" + EncodeValue("asks") + "&ID=" + EncodeValue("m"));
  ASSERT_EQ(read.status, 200);
  const auto receipt = wire::ReceiptIn(FromGbk(read.body));
  ASSERT_TRUE(receipt);
  EXPECT_EQ(receipt->question, "在一起吗？");
  EXPECT_EQ(receipt->opened, 1);
  EXPECT_EQ(receipt->answers.size(), 20u);

  // Republished with another question, the answers stay as the earlier
  // version's.
  ASSERT_EQ(
      Post(b.port(), StoreBody("m", "asks", AskingPage(b.host(), "第一行", "那明天呢？"))).status,
      200);
  const auto again = wire::ReceiptIn(FromGbk(
      Post(a.port(), "zc=56&File=" + EncodeValue("asks") + "&ID=" + EncodeValue("m")).body));
  ASSERT_TRUE(again);
  ASSERT_EQ(again->earlier.size(), 1u);
  EXPECT_EQ(again->earlier[0].question, "在一起吗？");
  EXPECT_EQ(again->earlier[0].answers.size(), 20u);

  // The name given up, nothing of it reaches its next owner.
  ASSERT_EQ(Post(b.port(), "zc=55&File=" + EncodeValue("asks") + "&ID=" + EncodeValue("m")).status,
            200);
  ASSERT_EQ(Post(b.port(), ClaimBody("next", "asks")).status, 200);
  ASSERT_EQ(Post(b.port(), StoreBody("next", "asks", AskingPage(b.host(), "第一行", "在一起吗？")))
                .status,
            200);
  const HttpResponse next =
      Post(a.port(), "zc=56&File=" + EncodeValue("asks") + "&ID=" + EncodeValue("next"));
  EXPECT_TRUE(wire::ReceiptIn(FromGbk(next.body))->answers.empty());
  EXPECT_TRUE(wire::ReceiptIn(FromGbk(next.body))->earlier.empty());
}

// A page's moment and code hold on every server alike: one that kept the
// page in memory holds it back the moment another stores a later moment;
// an address's tries at the code are counted across the servers, and the
// cookie one gives opens the page on the other.
TEST_F(PostgresTest, EveryServerHoldsAPageBackAlikeAndCountsTriesTogether) {
  ServerProcess a({}, Database());
  ServerProcess b({}, Database());
  const std::string page = Page(a.host(), 1);
  // Through one server: the other's pages name its own address.
  const auto store = [&](ServerProcess& server, std::string settings) {
    return Post(server.port(), StoreBody("m", "gate", page) + settings).status;
  };
  ASSERT_EQ(Post(a.port(), ClaimBody("m", "gate")).status, 200);
  ASSERT_EQ(store(a, "&opens=" + EncodeValue("2020-01-01 00:00:00")), 200);
  ASSERT_EQ(FromGbk(Get(b.port(), "/Test/gate").body), page);
  ASSERT_EQ(store(a, "&opens=" + EncodeValue("2030-02-14 12:00:00")), 200);
  EXPECT_NE(Get(b.port(), "/Test/gate").body.find("2030年2月14日 20:00"), std::string::npos);

  ASSERT_EQ(store(a, "&code=" + EncodeValue("520") + "&hint=" + EncodeValue("那一天")), 200);
  EXPECT_NE(Get(b.port(), "/Test/gate").body.find("提示：那一天"), std::string::npos);
  const auto unlock = [](ServerProcess& server, std::string_view code, const std::string& from) {
    const std::string body = "code=" + std::string(code);
    return Exchange(server.port(),
                    "POST /api/unlock/gate HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body,
                    false, from);
  };
  for (int i = 0; i < 5; ++i) ASSERT_EQ(unlock(i % 2 == 0 ? a : b, "521", "127.0.0.2").status, 403);
  EXPECT_EQ(unlock(a, "521", "127.0.0.2").status, 429);
  EXPECT_EQ(unlock(b, "521", "127.0.0.2").status, 429);
  const HttpResponse right = unlock(b, "520", "127.0.0.3");
  ASSERT_EQ(right.status, 204);
  const std::string cookie = right.Header("set-cookie");
  EXPECT_EQ(
      FromGbk(Get(a.port(), "/Test/gate", "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n")
                  .body),
      page);
}

}  // namespace
}  // namespace heartpage::server
