// The operator's tools as an operator runs them: `heartpage-server admin …`
// beside a running server on the same data folder.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "tests/server/built_page.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using namespace testing;
using heartpage::testing::RunProgram;
using heartpage::testing::RunResult;

RunResult Admin(std::vector<std::string> args, const std::filesystem::path& data) {
  args.insert(args.begin(), {HEARTPAGE_SERVER_BINARY, "admin"});
  args.insert(args.end(), {"--data", data.string()});
  return RunProgram(args);
}

// A page the program builds for the server at `port`, saying `words`.
std::string Page(int port, const std::string& words) {
  return BuiltPage("127.0.0.1:" + std::to_string(port), words);
}

// Asks until `done` holds or `limit` passes: how long a running server takes
// to follow the operator is what is measured.
bool Within(std::chrono::milliseconds limit, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string PngBytes(char fill) {
  std::string bytes = "\x89PNG\r\n\x1A\n";
  bytes.resize(2048, fill);
  return bytes;
}

HttpResponse Upload(int port, std::string_view machine, std::string_view bytes) {
  return Exchange(port,
                  "POST /api/media HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                  "application/octet-stream\r\nX-Machine-Id: " +
                      EncodeValue(machine) + "\r\nContent-Length: " + std::to_string(bytes.size()) +
                      "\r\n\r\n" + std::string(bytes));
}

class AdminTest : public ::testing::Test {
 protected:
  ScratchDir data_;
};

TEST_F(AdminTest, ATakedownReachesTheRunningServerWithinASecondAndHoldsUntilRestored) {
  ServerProcess server(data_.path(), kNoRateLimits);
  const int port = server.port();
  const std::string page = Page(port, "只给你看");
  ASSERT_EQ(Post(port, ClaimBody("m1", "Abuse")).status, 200);
  ASSERT_EQ(Post(port, ClaimBody("m1", "other1")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("m1", "abuse", page)).status, 200);
  ASSERT_EQ(Get(port, "/Test/abuse").status, 200);  // and now kept in memory

  const RunResult taken = Admin({"takedown", "ABUSE", "--reason", "钓鱼 phishing"}, data_.path());
  ASSERT_EQ(taken.status, 0) << taken.err;
  HttpResponse answer;
  EXPECT_TRUE(Within(std::chrono::milliseconds(1000), [&] {
    answer = Get(port, "/Test/abuse");
    return answer.status == 451;
  })) << answer.status;
  EXPECT_NE(answer.body.find("该网页因违反使用规则已被撤下"), std::string::npos);
  EXPECT_NE(answer.body.find("href=\"/report\""), std::string::npos);
  EXPECT_EQ(answer.body.find(ToGbk("只给你看")), std::string::npos);
  // The owner cannot put it back, nor anything else there.
  const HttpResponse again = Post(port, StoreBody("m1", "abuse", Page(port, "再来")));
  EXPECT_EQ(again.status, 451) << again.body;
  EXPECT_EQ(Get(port, "/Test/abuse").status, 451);

  const RunResult shown = Admin({"show", "abuse"}, data_.path());
  EXPECT_NE(shown.out.find("[taken down]"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("other1"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("style 1"), std::string::npos) << shown.out;
  const RunResult listed = Admin({"list", "--sort", "size"}, data_.path());
  EXPECT_NE(listed.out.find("abuse "), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("[taken down]"), std::string::npos) << listed.out;
  const RunResult figures = Admin({"stats"}, data_.path());
  EXPECT_NE(figures.out.find("names claimed:  2"), std::string::npos) << figures.out;
  EXPECT_NE(figures.out.find("        2        1\n"), std::string::npos)  // today's claims, stores
      << figures.out;

  ASSERT_EQ(Admin({"restore", "abuse", "--reason", "申诉通过"}, data_.path()).status, 0);
  EXPECT_TRUE(Within(std::chrono::milliseconds(1000), [&] {
    answer = Get(port, "/Test/abuse");
    return answer.status == 200;
  })) << answer.status;
  EXPECT_EQ(answer.body, ToGbk(page));

  const RunResult log = Admin({"log"}, data_.path());
  EXPECT_NE(log.out.find("restore"), std::string::npos);
  EXPECT_NE(log.out.find("钓鱼 phishing"), std::string::npos) << log.out;

  // Wrong use says how to use it (2); a name nobody has says so (1).
  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{},
                                             {"tekedown", "abuse"},
                                             {"takedown", "abuse"},
                                             {"list", "--sort", "views"},
                                             {"show", "abuse", "--reason", "x"}}) {
    const RunResult refused = Admin(wrong, data_.path());
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_NE(refused.err.find("usage: heartpage-server admin"), std::string::npos) << refused.err;
  }
  const RunResult unknown = Admin({"takedown", "nobody", "--reason", "x"}, data_.path());
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("no such name: nobody"), std::string::npos) << unknown.err;
}

// What strangers and operators wrote reaches the operator's terminal with
// every control and direction character spelled out: a report cannot draw
// over the screen or pass for another line.
TEST_F(AdminTest, TheToolsPrintNoControlOrDirectionCharacter) {
  ServerProcess server(data_.path(), kNoRateLimits);
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m1", "drawn")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("m1", "drawn", Page(port, "x"))).status, 200);
  // "ok\r#9 fine", CSI "2J", OSC, a right-to-left override, a tab.
  const std::string body =
      "page=drawn&reason=ok%0D%239+fine%C2%9B2J%C2%9D0%3Bx%E2%80%AEtxt%09end%5Cr";
  const HttpResponse sent =
      Exchange(port,
               "POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\n"
               "Sec-Fetch-Site: same-origin\r\nContent-Type: "
               "application/x-www-form-urlencoded\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
  ASSERT_EQ(sent.status, 200) << sent.body;
  ASSERT_EQ(Admin({"takedown", "drawn", "--reason", "see\r\x1b[1Aabove\xff"}, data_.path()).status,
            0);
  const std::string escaped = "ok\\r#9 fine\\u009b2J\\u009d0;x\\u202etxt\\tend\\\\r";
  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"reports"}, {"show", "drawn"}, {"log"}}) {
    const RunResult run = Admin(command, data_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    for (const std::string_view raw :
         {"\r", "\x1b", "\xc2\x9b", "\xc2\x9d", "\xe2\x80\xae", "\t", "\xff"})
      EXPECT_EQ(run.out.find(raw), std::string::npos) << command[0] << ": " << run.out;
  }
  EXPECT_NE(Admin({"reports"}, data_.path()).out.find("    " + escaped + "\n"), std::string::npos);
  EXPECT_NE(Admin({"log"}, data_.path()).out.find("see\\r\\x1b[1Aabove\\xff"), std::string::npos);
}

TEST_F(AdminTest, ABlockedOwnerIsRefusedEveryChangeUntilUnblocked) {
  ServerProcess server(data_.path(), kNoRateLimits);
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("bad", "spam1")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("bad", "spam1", Page(port, "a"))).status, 200);
  ASSERT_EQ(Admin({"block-owner", "spam1", "--reason", "spam"}, data_.path()).status, 0);

  const auto refused = [](const HttpResponse& answer) {
    return answer.status == 403 && answer.body.find("blocked") != std::string::npos;
  };
  EXPECT_TRUE(refused(Post(port, ClaimBody("bad", "spam2"))));
  EXPECT_TRUE(refused(Post(port, StoreBody("bad", "spam1", Page(port, "b")))));
  EXPECT_TRUE(refused(Post(port, PreviewBody("bad", Page(port, "c")))));
  EXPECT_TRUE(refused(Upload(port, "bad", PngBytes('b'))));
  // Only that machine.
  EXPECT_EQ(Post(port, ClaimBody("good", "fine")).status, 200);
  EXPECT_EQ(Upload(port, "good", PngBytes('g')).status, 200);

  ASSERT_EQ(Admin({"unblock-owner", "spam1"}, data_.path()).status, 0);
  EXPECT_EQ(Post(port, StoreBody("bad", "spam1", Page(port, "d"))).status, 200);
}

TEST_F(AdminTest, ARemovedFileGoesAndCannotBeUploadedAgain) {
  ServerProcess server(data_.path(), kNoRateLimits);
  const int port = server.port();
  const HttpResponse stored = Upload(port, "m1", PngBytes('x'));
  ASSERT_EQ(stored.status, 200) << stored.body;
  const std::string path = stored.body.substr(stored.body.find("/media/"));
  ASSERT_EQ(Get(port, path).status, 200);

  // As the operator copies it: the file's whole address.
  const RunResult removed =
      Admin({"remove-media", stored.body, "--reason", "malware"}, data_.path());
  ASSERT_EQ(removed.status, 0) << removed.err;
  EXPECT_EQ(Get(port, path).status, 404);
  EXPECT_EQ(Upload(port, "m2", PngBytes('x')).status, 451);
  EXPECT_EQ(Upload(port, "m2", PngBytes('y')).status, 200);
}

TEST_F(AdminTest, ABackupMadeWhileTheServerRunsOpensWithEverything) {
  ServerProcess server(data_.path(), kNoRateLimits);
  const int port = server.port();
  const std::string page = Page(port, "备份");
  ASSERT_EQ(Post(port, ClaimBody("m1", "kept")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("m1", "kept", page)).status, 200);
  const std::filesystem::path copy = data_.path() / "copy.sqlite3";
  const RunResult made = Admin({"backup", copy.string()}, data_.path());
  ASSERT_EQ(made.status, 0) << made.err;
  // Never over an existing file, which may be the last good copy.
  EXPECT_EQ(Admin({"backup", copy.string()}, data_.path()).status, 1);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* query = nullptr;
  ASSERT_EQ(
      sqlite3_prepare_v2(db, "SELECT 内容 FROM 页面 WHERE 文件名 = 'kept'", -1, &query, nullptr),
      SQLITE_OK);
  ASSERT_EQ(sqlite3_step(query), SQLITE_ROW);
  EXPECT_EQ(std::string(static_cast<const char*>(sqlite3_column_blob(query, 0)),
                        static_cast<std::size_t>(sqlite3_column_bytes(query, 0))),
            ToGbk(page));
  sqlite3_finalize(query);
  sqlite3_close(db);
}

}  // namespace
}  // namespace heartpage::server
