// The server as clients meet it: the real binary on a loopback port.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <atomic>
#include <latch>
#include <set>
#include <sstream>

#include "server/site/common/http_util.h"
#include "server/storage/sqlite/sqlite_storage.h"
#include "tests/server/built_page.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage::server {
namespace {

using namespace testing;

// Answer text split into records and fields the way the client reads it.
std::vector<std::vector<std::string>> Rows(const testing::HttpResponse& response) {
  const std::string text = FromGbk(response.body);
  std::vector<std::vector<std::string>> rows;
  std::size_t pos = text.find("いゼ");
  while (pos != std::string::npos) {
    pos += std::string_view("いゼ").size();
    const std::size_t next = text.find("いゼ", pos);
    const std::string record = text.substr(pos, next - pos);
    std::vector<std::string> fields;
    for (std::size_t start = 0, end; (end = record.find("い", start)) != std::string::npos;
         start = end + std::string_view("い").size())
      fields.push_back(record.substr(start, end - start));
    rows.push_back(fields);
    pos = next;
  }
  return rows;
}

// A page of the site at `host`, about `size` bytes, its words told by `seed`.
std::string SamplePage(const std::string& host, std::size_t size, char seed) {
  std::string words;
  while (words.size() + 8 * 1024 < size) {
    words += "亲爱的";
    words += seed;
    words += " ❤ 第1行 'quote' \"double\" & < > \r\n";
  }
  return BuiltPage(host, words);
}

class ServerTest : public ::testing::Test {
 protected:
  ScratchDir data_;
};

TEST_F(ServerTest, PublishesAndServesAPageExactlyAsSent) {
  ServerProcess server(data_.path());
  const int port = server.port();
  EXPECT_TRUE(Rows(Post(port, NameLookup("abc1"))).empty());
  ASSERT_EQ(Post(port, ClaimBody("WD-123 456", "abc1")).status, 200);

  // Anyone may learn that the name is taken, nobody whose it is.
  const auto lookup = Rows(Post(port, NameLookup("abc1")));
  ASSERT_EQ(lookup.size(), 1u);
  ASSERT_EQ(lookup[0].size(), 3u);
  EXPECT_EQ(lookup[0][0], "");
  EXPECT_EQ(lookup[0][1], "abc1");
  const auto owned = Rows(Post(port, QueryBody("select * from 免费 where 硬盘ID='WD-123 456'")));
  ASSERT_EQ(owned.size(), 1u);
  ASSERT_EQ(owned[0].size(), 4u);
  EXPECT_EQ(owned[0][1], "abc1");
  EXPECT_EQ(owned[0][3], "") << "no page yet";

  // A megabyte of every character that is awkward somewhere on the way.
  std::string page;
  std::mt19937 random(7);
  const char* pieces[] = {"中", "文", "a",  "\r\n", "'", "\"", "&",
                          ">",  "❤",  "い", "€",    "<", "\t", "😀"};
  while (page.size() < 1024 * 1024) page += pieces[random() % std::size(pieces)];
  page = BuiltPage(server.host(), page);
  ASSERT_EQ(Post(port, StoreBody("WD-123 456", "abc1", page)).status, 200);
  // The owner learns when its page was stored, in the claim time's form.
  const auto stored = Rows(Post(port, QueryBody("select * from 免费 where 硬盘ID='WD-123 456'")));
  ASSERT_EQ(stored[0].size(), 4u);
  EXPECT_EQ(stored[0][3].size(), 19u);
  EXPECT_GE(stored[0][3], stored[0][2]);
  const auto served = Get(port, "/Test/abc1");
  EXPECT_EQ(served.status, 200);
  EXPECT_TRUE(served.body == ToGbk(page));
  EXPECT_EQ(served.Header("content-type"), "text/html; charset=gbk");
  EXPECT_EQ(served.Header("x-content-type-options"), "nosniff");
  EXPECT_EQ(served.Header("content-security-policy"),
            "sandbox allow-scripts allow-popups allow-popups-to-escape-sandbox; script-src "
            "'unsafe-inline' http://" +
                server.host() + "/biaobai/; connect-src http://" + server.host() +
                "/api/opened/ http://" + server.host() +
                "/api/answer/; form-action 'none'; frame-src 'none'; "
                "object-src 'none'; base-uri 'none'; frame-ancestors 'none'");
  EXPECT_EQ(served.Header("referrer-policy"), "no-referrer");

  // A second store replaces the page.
  const std::string renewed = BuiltPage(server.host(), "新的");
  ASSERT_EQ(Post(port, StoreBody("WD-123 456", "abc1", renewed)).status, 200);
  EXPECT_EQ(Get(port, "/Test/abc1").body, ToGbk(renewed));

  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 200 ", "ms 127.0.0.1 store abc1 ok"));
  EXPECT_TRUE(server.WaitForLogLine("GET /Test/abc1 200 ", ""));
}

// A temporary preview: any machine, no claim, an unguessable address of its
// own served like a published page; a new address each time.
TEST_F(ServerTest, APreviewIsServedAtARandomAddressLikeAPageAndClaimsNothing) {
  ServerProcess server(data_.path());
  const int port = server.port();
  const std::string page = SamplePage(server.host(), 4 * 1024, 'p');
  const auto stored = Post(port, PreviewBody("WD-77 预览", page));
  ASSERT_EQ(stored.status, 200) << stored.body;
  const std::string prefix = "http://127.0.0.1:" + std::to_string(port) + "/preview/";
  ASSERT_TRUE(stored.body.starts_with(prefix)) << stored.body;
  const std::string token = stored.body.substr(prefix.size());
  EXPECT_EQ(token.size(), 24u);
  EXPECT_EQ(token.find_first_not_of("abcdefghijklmnopqrstuvwxyz234567"), std::string::npos);
  const auto again = Post(port, PreviewBody("WD-77 预览", page));
  EXPECT_NE(again.body, stored.body);

  const auto served = Get(port, "/preview/" + token);
  EXPECT_EQ(served.status, 200);
  EXPECT_EQ(served.body, ToGbk(page));
  EXPECT_EQ(served.Header("content-type"), "text/html; charset=gbk");
  EXPECT_EQ(served.Header("content-security-policy"),
            "sandbox allow-scripts allow-popups allow-popups-to-escape-sandbox; script-src "
            "'unsafe-inline' http://" +
                server.host() + "/biaobai/; connect-src http://" + server.host() +
                "/api/opened/ http://" + server.host() +
                "/api/answer/; form-action 'none'; frame-src 'none'; "
                "object-src 'none'; base-uri 'none'; frame-ancestors 'none'");
  EXPECT_EQ(served.Header("referrer-policy"), "no-referrer");
  EXPECT_EQ(Get(port, "/preview/" + std::string(24, 'a')).status, 404);
  EXPECT_EQ(Get(port, "/preview/../Test/x").status, 404);
  EXPECT_TRUE(Rows(Post(port, QueryBody("select * from 免费 where 硬盘ID='WD-77 预览'"))).empty());
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 200 ", " 127.0.0.1 preview store - ok"));
}

TEST_F(ServerTest, SettingsHaveDefaultsAndPersistWhatTheOperatorSets) {
  {
    ServerProcess server(data_.path());
    const auto rows = Rows(Post(server.port(), QueryBody("select * from 系统设置")));
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].size(), 6u);
    EXPECT_FALSE(rows[0][3].empty());
    EXPECT_EQ(rows[0][4], "V1.0");
    EXPECT_EQ(rows[0][5], "http://127.0.0.1:" + std::to_string(server.port()) + "/download");
    EXPECT_EQ(Get(server.port(), "/download").status, 200);
    const auto support = Get(server.port(), "/support");  // the program's customer-service link
    EXPECT_EQ(support.status, 200);
    EXPECT_NE(support.body.find("href=\"/download\""), std::string::npos);
    const auto home = Get(server.port(), "/");
    EXPECT_EQ(home.status, 200);
    EXPECT_NE(home.body.find("href=\"/download\""), std::string::npos);
  }
  {
    ServerProcess server(data_.path(), {"--announcement", "新年快乐 <3", "--version-label", "V2.0",
                                        "--download-url", "http://example.invalid/get"});
  }
  ServerProcess server(data_.path(), {"--version-label", "V2.1"});
  const auto rows = Rows(Post(server.port(), QueryBody("select * from 系统设置")));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][3], "新年快乐 <3");
  EXPECT_EQ(rows[0][4], "V2.1");
  EXPECT_EQ(rows[0][5], "http://example.invalid/get");
}

std::string OwnershipLookup(std::string_view machine) {
  return QueryBody("select * from 免费 where 硬盘ID='" + Quoted(machine) + "'");
}

// Identifiers as disks really give them, and only their owners ever see them.
TEST_F(ServerTest, EveryIdentifierAMachineCanHavePublishesAndStaysPrivate) {
  std::string wide;
  for (int i = 0; i < 50; ++i) wide += "硬盘";  // 200 bytes in GBK, 300 in UTF-8
  const std::vector<std::pair<std::string, std::string>> machines = {
      {std::string("WD-WCAV1234\0\0\0\0\0\0\0\0\0", 20), "zero1"},
      {"\tS3Z 9\t  x ", "tab1"},
      {wide, "wide1"},
      {"O'Brien'); delete from 免费; --", "mine"},  // quotes are data, not statement
  };
  {
    ServerProcess server(data_.path());
    const int port = server.port();
    for (const auto& [machine, name] : machines) {
      ASSERT_EQ(Post(port, ClaimBody(machine, name)).status, 200) << name;
      const std::string page = BuiltPage(server.host(), name);
      ASSERT_EQ(Post(port, StoreBody(machine, name, page)).status, 200) << name;
      EXPECT_EQ(Get(port, "/Test/" + name).body, ToGbk(page));
      const auto owned = Rows(Post(port, OwnershipLookup(machine)));
      ASSERT_EQ(owned.size(), 1u) << name;
      EXPECT_EQ(owned[0][0], machine);
      EXPECT_EQ(owned[0][1], name);
      EXPECT_EQ(Rows(Post(port, NameLookup(name))).at(0).at(0), "");
    }
    // A near miss is another machine.
    EXPECT_EQ(Post(port, StoreBody("WD-WCAV1234", "zero1", BuiltPage(server.host(), "x"))).status,
              403);
    EXPECT_TRUE(
        Rows(Post(port, QueryBody("select * from 免费 where 硬盘ID='x'' or ''1''=''1'"))).empty());
  }
  std::string kept;
  for (const auto& file : std::filesystem::directory_iterator(data_.path()))
    kept += heartpage::testing::ReadFile(file.path());
  EXPECT_EQ(kept.find("WD-WCAV"), std::string::npos);
  EXPECT_EQ(kept.find("S3Z 9"), std::string::npos);
  EXPECT_EQ(kept.find(ToGbk(wide)), std::string::npos);

  // The key outlives the process: the machines are still known.
  ServerProcess restarted(data_.path());
  for (const auto& [machine, name] : machines)
    EXPECT_EQ(Rows(Post(restarted.port(), OwnershipLookup(machine))).at(0).at(1), name);
}

TEST_F(ServerTest, NamesAreOneNamespaceWhateverTheirCase) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m1", "Alice")).status, 200);
  EXPECT_EQ(Post(port, ClaimBody("m2", "alice")).status, 409);
  EXPECT_EQ(Post(port, ClaimBody("m1", "ALICE")).status, 409);
  EXPECT_EQ(Post(port, StoreBody("m2", "alice", BuiltPage(server.host(), "theirs"))).status, 403);
  const std::string mine = BuiltPage(server.host(), "mine");
  ASSERT_EQ(Post(port, StoreBody("m1", "ALICE", mine)).status, 200);
  for (const char* address : {"/Test/alice", "/Test/Alice", "/test/ALICE"})
    EXPECT_EQ(Get(port, address).body, ToGbk(mine)) << address;
  EXPECT_EQ(Rows(Post(port, NameLookup("aLiCe"))).at(0).at(1), "alice");
  EXPECT_EQ(Rows(Post(port, OwnershipLookup("m1"))).at(0).at(1), "alice");
}

// Neither a published page nor any other site can use its visitors' browsers
// to claim names or replace pages.
TEST_F(ServerTest, TheEndpointRefusesWebPages) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m", "web")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("m", "web", BuiltPage(server.host(), "mine"))).status, 200);
  const std::string before = DumpDatabase(data_.path());
  const auto with_header = [](const std::string& body, const std::string& header) {
    std::string request = PostRequest(body);
    return request.insert(request.find("\r\n") + 2, header + "\r\n");
  };
  for (const std::string& header :
       std::vector<std::string>{"Origin: null", "Origin: http://127.0.0.1:" + std::to_string(port),
                                "Sec-Fetch-Site: cross-site", "Sec-Fetch-Site: same-origin",
                                "Sec-Fetch-Site: same-site"}) {
    for (const std::string& body :
         {StoreBody("m", "web", "<p>evil</p>"), ClaimBody("m", "web2"), NameLookup("web")}) {
      const auto refused = Exchange(port, with_header(body, header));
      EXPECT_EQ(refused.status, 403) << header;
      EXPECT_LT(refused.body.size(), 100u);
    }
  }
  EXPECT_EQ(DumpDatabase(data_.path()), before);
  EXPECT_EQ(Exchange(port, with_header(NameLookup("web"), "Sec-Fetch-Site: none")).status, 200);
}

TEST_F(ServerTest, DataFolderIsForTheServersUserAlone) {
  const auto mode = [](const std::filesystem::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
  };
  const auto expect_private = [&](const std::filesystem::path& dir) {
    EXPECT_EQ(mode(dir), 0700u);
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      files.insert(entry.path().filename());
      EXPECT_EQ(mode(entry.path()), 0600u) << entry.path();
    }
    for (const char* file :
         {"heartpage.sqlite3", "heartpage.sqlite3-wal", "machine-id.key", "heartpage.lock"})
      EXPECT_TRUE(files.contains(file)) << file;
  };
  const std::filesystem::path fresh = data_.path() / "new" / "data";
  {
    ServerProcess server(fresh);
    ASSERT_EQ(Post(server.port(), ClaimBody("m", "p")).status, 200);
    expect_private(fresh);
  }
  // Left open by an older server or by hand: tightened at start, and said so.
  std::filesystem::permissions(fresh, std::filesystem::perms(0755));
  std::filesystem::permissions(fresh / "heartpage.sqlite3", std::filesystem::perms(0644));
  ServerProcess server(fresh);
  expect_private(fresh);
  const std::string log = server.Log();
  EXPECT_NE(log.find(fresh.string() + " was 0755, now 0700"), std::string::npos) << log;
  EXPECT_NE(log.find("heartpage.sqlite3 was 0644, now 0600"), std::string::npos) << log;

  // A folder every user shares is no place for it.
  const std::filesystem::path shared = data_.path() / "shared";
  std::filesystem::create_directory(shared);
  std::filesystem::permissions(shared, std::filesystem::perms(01777));
  EXPECT_THROW(ServerProcess{shared}, std::runtime_error);
}

// Every refused request leaves the database as it was and the server running.
TEST_F(ServerTest, BadInputIsRefusedAndChangesNothing) {
  ServerProcess server(data_.path(), kNoRateLimits);
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m1", "taken")).status, 200);
  const std::string page = BuiltPage(server.host(), "original");
  ASSERT_EQ(Post(port, StoreBody("m1", "taken", page)).status, 200);
  const std::string before = DumpDatabase(data_.path());

  const std::string long_name(31, 'a');
  const std::string nul_name("a\0b", 3);
  struct Case {
    std::string label;
    std::string body;
    int status;
  };
  std::vector<Case> cases = {
      {"second statement", QueryBody("select * from 系统设置; delete from 免费"), 400},
      {"comment after query", QueryBody("select * from 系统设置 -- x"), 400},
      {"injected or", QueryBody("select * from 免费 where 文件名='a' or '1'='1'"), 400},
      {"injected delete", QueryBody("select * from 免费 where 文件名='a'; delete from 免费; --'"),
       400},
      {"block comment", QueryBody("select * from 免费 where 硬盘ID='x' /* */"), 400},
      {"unbalanced quote", QueryBody("select * from 免费 where 文件名='abc"), 400},
      {"claim plus delete",
       "zc=50&sql=" + EncodeValue("insert into 免费 (硬盘ID,文件名) values ('x', 'y'); delete "
                                  "from 页面 --')"),
       400},
      {"two rows",
       "zc=50&sql=" + EncodeValue("insert into 免费 (硬盘ID,文件名) values ('x', 'y'), ('z', 'w')"),
       400},
      {"claim with trailing comment",
       "zc=50&sql=" + EncodeValue("insert into 免费 (硬盘ID,文件名) values ('x', 'y') --"), 400},
      {"other table", QueryBody("select * from 页面"), 400},
      {"schema table", QueryBody("select * from sqlite_master"), 400},
      {"other column list", QueryBody("select 文件名 from 免费"), 400},
      {"other where column", QueryBody("select * from 免费 where 认领时间='x'"), 400},
      {"update", "zc=50&sql=" + EncodeValue("update 免费 set 文件名='x'"), 400},
      {"delete", "zc=50&sql=" + EncodeValue("delete from 免费"), 400},
      {"drop", "zc=50&sql=" + EncodeValue("drop table 免费"), 400},
      {"query as statement", "zc=50&sql=" + EncodeValue("select * from 系统设置"), 400},
      {"claim as query", QueryBody("insert into 免费 (硬盘ID,文件名) values ('x', 'y')"), 400},
      {"upper-case keywords", QueryBody("SELECT * FROM 系统设置"), 400},
      {"second claim of a name", ClaimBody("m2", "taken"), 409},
      {"store for an unclaimed name", StoreBody("m1", "free", page), 403},
      {"store by another machine", StoreBody("m2", "taken", page), 403},
      {"store by a machine differing in case", StoreBody("M1", "taken", page), 403},
      {"store of a page the program would not build", StoreBody("m1", "taken", "<p>x</p>"), 422},
      {"preview of a page the program would not build", PreviewBody("m1", "<p>x</p>"), 422},
      {"store without ID", "zc=52&File=" + EncodeValue("taken") + "&data=97", 400},
      {"store with an empty ID", "zc=52&File=" + EncodeValue("taken") + "&ID=&data=97", 400},
      {"store with an ID that is not GBK", "zc=52&File=" + EncodeValue("taken") + "&ID=-1&data=97",
       400},
      {"preview without ID", "zc=53&data=97", 400},
      {"preview without data", "zc=53&ID=" + EncodeValue("m1"), 400},
      {"preview with a name", PreviewBody("m1", "x") + "&File=97", 400},
      {"preview with an empty ID", "zc=53&ID=&data=97", 400},
      {"preview with an ID that is not GBK", "zc=53&ID=-1&data=97", 400},
      {"preview with a separator in its ID", PreviewBody("aいb", "x"), 400},
      {"empty machine identifier", ClaimBody("", "newname"), 400},
      {"separator in machine identifier", ClaimBody("aいb", "newname"), 400},
      {"machine identifier over 200 bytes",
       ClaimBody(std::string(67, 'a') + "中" + std::string(132, 'a'), "newname"), 400},
      {"lookup by a machine identifier over 200 bytes",
       QueryBody("select * from 免费 where 硬盘ID='" + std::string(201, 'a') + "'"), 400},
      {"no zc", "sql=" + EncodeValue("select * from 系统设置"), 400},
      {"unknown operation", "zc=51&sql=" + EncodeValue("select * from 系统设置"), 400},
      {"operation 1 with extra field", QueryBody("select * from 系统设置") + "&File=97", 400},
      {"store without data", "zc=52&File=" + EncodeValue("taken"), 400},
      {"store with sql", StoreBody("m1", "taken", "x") + "&sql=97", 400},
      {"field given twice", StoreBody("m1", "taken", "x") + "&data=97", 400},
      {"body cut inside a field name", "zc=52&File=" + EncodeValue("taken") + "&da", 400},
      {"body ends with a separator", StoreBody("m1", "taken", "x") + "A", 400},
      {"body ends with an ampersand", StoreBody("m1", "taken", "x") + "&", 400},
      {"empty body", "", 400},
      {"percent-encoded form", "zc=1&sql=select+*+from+%E7%B3%BB", 400},
      {"invalid GBK in the statement", "zc=49&sql=115A-1", 400},
  };
  for (const std::string_view number : {"12A", "A", "-", "99999", "1e3", "", "+1", "0x31", " 49"}) {
    const std::string n(number);
    if (!n.empty()) cases.push_back({"zc \"" + n + "\"", "zc=" + n + "&File=97&data=97", 400});
    cases.push_back({"File \"" + n + "\"", "zc=52&File=" + n + "&data=97", 400});
    cases.push_back({"data \"" + n + "\"",
                     "zc=52&File=" + EncodeValue("taken") + "&data=" + n + (n.empty() ? "A" : ""),
                     400});
    cases.push_back({"sql \"" + n + "\"", "zc=49&sql=" + n, 400});
  }
  cases.push_back({"empty zc", "zc=&File=97&data=97", 400});
  for (const std::string& name :
       {std::string(".."), std::string("a/b"), std::string("a\\b"), std::string("a%2e"), nul_name,
        std::string("中文"), long_name, std::string("a.b"), std::string(" a"), std::string("")}) {
    cases.push_back({"claim of name \"" + name + "\"", ClaimBody("m3", name), 400});
    cases.push_back({"lookup of name \"" + name + "\"", NameLookup(name), 400});
    cases.push_back({"store of name \"" + name + "\"", StoreBody("m3", name, "<p>x</p>"), 400});
  }

  cases.push_back({"a field name of 2 MB", "zc=49&" + std::string(2 << 20, 'x') + "=97", 400});

  for (const Case& c : cases) {
    const auto response = Post(port, c.body);
    EXPECT_EQ(response.status, c.status) << c.label << ": " << response.body.substr(0, 200);
    EXPECT_FALSE(response.body.empty()) << c.label;
    EXPECT_LT(response.body.size(), 200u) << c.label;
    EXPECT_EQ(response.Header("x-content-type-options"), "nosniff") << c.label;
  }
  // An older client learns what it lacks.
  EXPECT_EQ(Post(port, "zc=52&File=" + EncodeValue("taken") + "&data=97").body,
            "operation 4: missing field ID\n");
  EXPECT_EQ(Post(port, "zc=53&ID=" + EncodeValue("m1")).body, "operation 5: missing field data\n");

  // Requests whose end is in doubt are refused once, and the connection
  // ends: whatever follows, a claim here, is never taken for a request.
  const std::string hidden = PostRequest(ClaimBody("m9", "hidden"));
  const auto framed = [&](std::string_view headers, std::string_view body = "") {
    return "POST /asp/index.asp HTTP/1.1\r\n" + std::string(headers) + "\r\n" + std::string(body) +
           hidden;
  };
  const std::string chunked = std::to_string(hidden.size()) + "\r\n" + hidden + "\r\n0\r\n\r\n";
  for (const auto& [label, request] : std::vector<std::pair<std::string, std::string>>{
           {"identity", framed("Host: x\r\nTransfer-Encoding: identity\r\n")},
           {"xchunked", framed("Host: x\r\nTransfer-Encoding: xchunked\r\n", chunked)},
           {"chunked, identity", framed("Host: x\r\nTransfer-Encoding: chunked, identity\r\n")},
           {"identity, chunked",
            framed("Host: x\r\nTransfer-Encoding: identity, chunked\r\n", chunked)},
           {"two encodings",
            framed("Host: x\r\nTransfer-Encoding: identity\r\nTransfer-Encoding: chunked\r\n",
                   chunked)},
           {"chunked and a length",
            framed("Host: x\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n", chunked)},
           {"two lengths", framed("Host: x\r\nContent-Length: 0\r\nContent-Length: 5\r\n")},
           // A proxy in front may keep only the first of two equal lengths, or
           // read a folded line as a header of its own.
           {"two equal lengths",
            framed("Host: x\r\nContent-Length: " + std::to_string(hidden.size()) +
                       "\r\nContent-Length: " + std::to_string(hidden.size()) + "\r\n",
                   hidden)},
           {"a list of equal lengths",
            framed("Host: x\r\nContent-Length: " + std::to_string(hidden.size()) + ", " +
                       std::to_string(hidden.size()) + "\r\n",
                   hidden)},
           {"a folded encoding", framed("Host: x\r\nTransfer-Encoding:\r\n chunked\r\n", chunked)},
           {"no Host", framed("Content-Length: 0\r\n")},
           {"two Hosts", framed("Host: x\r\nHost: y\r\nContent-Length: 0\r\n")},
           {"a header of 2 MB", framed("Host: x\r\nX-Long: " + std::string(2 << 20, 'v') +
                                       "\r\nContent-Length: 0\r\n")},
       }) {
    HttpConnection connection(port);
    connection.Send(request);
    const auto response = connection.Read();
    ASSERT_TRUE(response.has_value()) << label;
    EXPECT_EQ(response->status, 400) << label;
    EXPECT_LT(response->body.size(), 200u) << label;
    EXPECT_EQ(response->Header("x-content-type-options"), "nosniff") << label;
    EXPECT_TRUE(connection.ClosedByServer()) << label;
  }
  // A chunked body is fine, and so are requests sent before their answers:
  // one answer each, in order.
  {
    HttpConnection connection(port);
    const std::string lookup = NameLookup("taken");
    ASSERT_TRUE(connection.Send(
        "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n" +
        (std::stringstream() << std::hex << lookup.size()).str() + "\r\n" + lookup +
        "\r\n0\r\n\r\n" + GetRequest("/nowhere") + PostRequest(lookup) +
        GetRequest("/Test/taken", "Connection: close\r\n")));
    for (const int status : {200, 404, 200, 200}) {
      const auto response = connection.Read();
      ASSERT_TRUE(response.has_value());
      EXPECT_EQ(response->status, status);
      EXPECT_EQ(response->Header("x-content-type-options"), "nosniff");
    }
    EXPECT_TRUE(connection.ClosedByServer());
  }
  EXPECT_EQ(DumpDatabase(data_.path()), before);
  EXPECT_EQ(Get(port, "/Test/taken").body, ToGbk(page));
}

TEST_F(ServerTest, BodiesOverTheLimitOrCutOffStoreNothing) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m", "page")).status, 200);
  const std::string before = DumpDatabase(data_.path());

  // Just over the default limit of 8 MB.
  std::string huge = StoreBody("m", "page", "x");
  huge += std::string(8 * 1024 * 1024 + 1 - huge.size(), '0');
  huge.back() = '9';
  const auto refused = Post(port, huge);
  EXPECT_EQ(refused.status, 413);

  // Announced length, then half the body, then the client gives up.
  {
    const std::string body = StoreBody("m", "page", "<p>half</p>");
    HttpConnection connection(port);
    std::string request = PostRequest(body);
    request.resize(request.size() - body.size() / 2);
    connection.Send(request);
    connection.ShutdownWrite();
    EXPECT_FALSE(connection.Read().has_value());
  }
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 413 ", ""));
  EXPECT_EQ(DumpDatabase(data_.path()), before);
  EXPECT_EQ(Get(port, "/Test/page").status, 404);
}

// A configured limit, also for clients that wait for 100-continue.
TEST_F(ServerTest, MaxBodyIsConfigurableAndAnswersClientsThatWaitForContinue) {
  ServerProcess server(data_.path(), {"--max-body", "64K"});
  ASSERT_EQ(Post(server.port(), ClaimBody("m", "p")).status, 200);
  const std::string page = BuiltPage(server.host(), "x");
  const std::string over = BuiltPage(server.host(), std::string(16 * 1024, 'x'));
  EXPECT_EQ(Post(server.port(), StoreBody("m", "p", page)).status, 200);
  EXPECT_EQ(Post(server.port(), StoreBody("m", "p", over)).status, 413);
  EXPECT_EQ(Post(server.port(), PreviewBody("m", over)).status, 413);
  EXPECT_EQ(Get(server.port(), "/Test/p").body, ToGbk(page));

  const std::string body = QueryBody("select * from 系统设置");
  HttpConnection connection(server.port());
  ASSERT_TRUE(
      connection.Send("POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                      "Content-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n"));
  EXPECT_EQ(connection.Read().value_or(testing::HttpResponse{}).status, 100);
  ASSERT_TRUE(connection.Send(body));
  EXPECT_EQ(Rows(connection.Read().value_or(testing::HttpResponse{})).size(), 1u);

  // Too large: refused before the body is sent.
  HttpConnection large(server.port());
  ASSERT_TRUE(
      large.Send("POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                 "Content-Length: 100000\r\n\r\n"));
  EXPECT_EQ(large.Read().value_or(testing::HttpResponse{}).status, 413);
}

TEST_F(ServerTest, ExactlyOneOfFiftyConcurrentClaimsSucceeds) {
  ServerProcess server(data_.path(), kNoRateLimits);
  constexpr int kClaims = 50;
  std::latch start(kClaims);
  std::atomic<int> claimed = 0;
  std::atomic<int> conflicts = 0;
  std::atomic<int> busy = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kClaims; ++i) {
    threads.emplace_back([&, i] {
      HttpConnection connection(server.port());
      const std::string request = PostRequest(ClaimBody("machine" + std::to_string(i), "popular"));
      start.arrive_and_wait();
      connection.Send(request);
      const int status = connection.Read().value_or(testing::HttpResponse{}).status;
      if (status == 200) ++claimed;
      if (status == 409) ++conflicts;
      // More writes at once than the server queues: the rest are told to
      // come back, with nothing changed.
      if (status == 503) ++busy;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(claimed, 1);
  EXPECT_GT(conflicts, 0);
  EXPECT_EQ(conflicts + busy, kClaims - 1);
  EXPECT_EQ(Rows(Post(server.port(), NameLookup("popular"))).size(), 1u);
}

TEST_F(ServerTest, AcknowledgedStoresSurviveSigkill) {
  std::map<std::string, std::string> acknowledged;
  {
    ServerProcess server(data_.path(), kNoRateLimits);
    std::mutex mutex;
    std::condition_variable enough;
    bool writer_stopped = false;
    std::thread writer([&] {
      const auto stop = [&] {
        std::lock_guard lock(mutex);
        writer_stopped = true;
        enough.notify_all();
      };
      for (int i = 0;; ++i) {
        try {
          HttpConnection connection(server.port());
          const std::string name = "k" + std::to_string(i);
          const std::string page =
              SamplePage(server.host(), 8 * 1024 + i * 97, static_cast<char>('a' + i % 26));
          if (!connection.Send(PostRequest(ClaimBody("m", name)))) return stop();
          if (connection.Read().value_or(testing::HttpResponse{}).status != 200) return stop();
          if (!connection.Send(PostRequest(StoreBody("m", name, page)))) return stop();
          if (connection.Read().value_or(testing::HttpResponse{}).status != 200) return stop();
          std::lock_guard lock(mutex);
          acknowledged[name] = page;
          enough.notify_all();
        } catch (const std::exception&) {
          return stop();  // the server is gone
        }
      }
    });
    {
      std::unique_lock lock(mutex);
      enough.wait(lock, [&] { return acknowledged.size() >= 40 || writer_stopped; });
      EXPECT_FALSE(writer_stopped) << "stores failed before the kill";
    }
    server.Signal(SIGKILL);
    writer.join();
    EXPECT_TRUE(WIFSIGNALED(server.Wait()));
  }
  ServerProcess restarted(data_.path());
  EXPECT_EQ(
      SqliteStorage(data_.path() / "heartpage.sqlite3", MachineIdHasher::NewKey()).IntegrityCheck(),
      "ok");
  for (const auto& [name, page] : acknowledged) {
    const auto served = Get(restarted.port(), "/Test/" + name);
    EXPECT_EQ(served.status, 200) << name;
    EXPECT_TRUE(served.body == ToGbk(page)) << name;
  }
}

TEST_F(ServerTest, ConditionalAndHeadRequests) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("m", "cond")).status, 200);
  const std::string one = ToGbk(BuiltPage(server.host(), "one"));
  const std::string two = BuiltPage(server.host(), "two");
  ASSERT_EQ(Post(port, StoreBody("m", "cond", BuiltPage(server.host(), "one"))).status, 200);
  const auto first = Get(port, "/Test/cond");
  const std::string etag = first.Header("etag");
  const std::string modified = first.Header("last-modified");
  ASSERT_FALSE(etag.empty());
  ASSERT_FALSE(modified.empty());

  EXPECT_EQ(Get(port, "/Test/cond", "If-None-Match: " + etag + "\r\n").status, 304);
  EXPECT_EQ(Get(port, "/Test/cond", "If-None-Match: \"other\", W/" + etag + "\r\n").status, 304);
  // By date alone only a later second vouches for the copy: the page may
  // have been replaced again within the second it names.
  const std::string later = FormatHttpDate(*ParseHttpDate(modified) + 1);
  EXPECT_EQ(Get(port, "/Test/cond", "If-Modified-Since: " + later + "\r\n").status, 304);
  EXPECT_EQ(Get(port, "/Test/cond", "If-Modified-Since: Thu, 01 Jan 1998 00:00:00 GMT\r\n").status,
            200);
  // If-None-Match decides alone when both are present.
  EXPECT_EQ(
      Get(port, "/Test/cond", "If-None-Match: \"other\"\r\nIf-Modified-Since: " + later + "\r\n")
          .status,
      200);

  const auto head = Exchange(port, GetRequest("/Test/cond", "", "HEAD"), true);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("content-length"), std::to_string(one.size()));
  EXPECT_EQ(head.Header("etag"), etag);

  ASSERT_EQ(Post(port, StoreBody("m", "cond", two)).status, 200);
  const auto changed = Get(port, "/Test/cond", "If-None-Match: " + etag + "\r\n");
  EXPECT_EQ(changed.status, 200);
  EXPECT_EQ(changed.body, ToGbk(two));
  // Most likely replaced within the same second: the old date must not pass.
  EXPECT_EQ(Get(port, "/Test/cond", "If-Modified-Since: " + modified + "\r\n").status, 200);
}

TEST_F(ServerTest, RoutesMethodsAndKeepAlive) {
  ServerProcess server(data_.path());
  const int port = server.port();
  for (const char* target : {"/Test/nothere", "/Test/..", "/Test/a%2Fb", "/Test/", "/nowhere",
                             "/Test/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"})
    EXPECT_EQ(Get(port, target).status, 404) << target;
  EXPECT_EQ(Get(port, "/asp/index.asp").status, 405);
  EXPECT_EQ(Post(port, "zc=49").status, 400);
  EXPECT_EQ(Exchange(port, PostRequest("x", "/Test/abc")).status, 405);
  EXPECT_EQ(Exchange(port, "NONSENSE\r\n\r\n").status, 400);

  // HEAD answers carry no body, whatever the answer; the connection goes on.
  {
    HttpConnection connection(port);
    for (const char* target : {"/Test/nothere", "/", "/download", "/nowhere"}) {
      ASSERT_TRUE(connection.Send(GetRequest(target, "", "HEAD")));
      const auto response = connection.Read(true);
      ASSERT_TRUE(response.has_value()) << target;
      EXPECT_NE(response->Header("content-length"), "0") << target;
    }
    ASSERT_TRUE(connection.Send(GetRequest("/")));
    const auto after = connection.Read();
    ASSERT_TRUE(after.has_value());
    EXPECT_TRUE(after->body.starts_with("<!DOCTYPE html>"));
  }

  // A page answer honours the connection's wishes like any other.
  ASSERT_EQ(Post(port, ClaimBody("m", "alive")).status, 200);
  const std::string alive = BuiltPage(server.host(), "alive");
  ASSERT_EQ(Post(port, StoreBody("m", "alive", alive)).status, 200);
  for (const char* request : {"GET /Test/alive HTTP/1.0\r\n\r\n",
                              "GET /Test/alive HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"}) {
    HttpConnection once(port);
    ASSERT_TRUE(once.Send(request));
    const auto response = once.Read();
    ASSERT_TRUE(response.has_value()) << request;
    EXPECT_EQ(response->body, ToGbk(alive));
    EXPECT_TRUE(once.ClosedByServer()) << request;
  }
  {
    HttpConnection old_client(port);
    ASSERT_TRUE(old_client.Send("GET /Test/alive HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
    const auto response = old_client.Read();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->Header("connection"), "keep-alive");
    ASSERT_TRUE(old_client.Send(GetRequest("/Test/alive")));
    EXPECT_EQ(old_client.Read().value_or(testing::HttpResponse{}).body, ToGbk(alive));
  }

  // Several requests on one connection, pages among them.
  HttpConnection connection(port);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(connection.Send(GetRequest("/Test/alive")));
    const auto response = connection.Read();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->body, ToGbk(alive));
  }
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(connection.Send(PostRequest(QueryBody("select * from 系统设置"))));
    const auto response = connection.Read();
    ASSERT_TRUE(response.has_value());
    EXPECT_EQ(response->status, 200);
  }
}

TEST_F(ServerTest, ServesAssetsCaseInsensitivelyAndNeverOutsideTheirFolders) {
  ScratchDir assets;
  ScratchDir vendor;
  std::filesystem::create_directories(assets.path() / "fg2" / "js");
  std::filesystem::create_directories(vendor.path() / "FG3");
  const auto write = [](const std::filesystem::path& file, std::string_view text) {
    std::ofstream(file, std::ios::binary) << text;
  };
  write(assets.path() / "fg2" / "js" / "love.js", "var love = 1;");
  write(assets.path() / "secret.txt", "inside");
  write(vendor.path() / "FG3" / "jquery.min.js", "/* jquery */");
  std::filesystem::create_directories(assets.path() / "fg3");
  write(assets.path() / "fg3" / "jquery.min.js", "/* local */");
  std::filesystem::create_symlink("/etc/passwd", assets.path() / "fg2" / "out");
  std::filesystem::create_directories(assets.path() / "fg2" / ".git");
  write(assets.path() / "fg2" / ".git" / "config", "[remote]");
  write(assets.path() / "fg2" / ".env", "SECRET=1");
  std::filesystem::create_symlink("../.git/config", assets.path() / "fg2" / "js" / "peek");

  ServerProcess server(data_.path(),
                       {"--assets", assets.path().string(), "--assets", vendor.path().string()});
  const int port = server.port();
  const auto script = Get(port, "/biaobai/FG2/JS/Love.js?v=3");
  EXPECT_EQ(script.status, 200);
  EXPECT_EQ(script.body, "var love = 1;");
  EXPECT_EQ(script.Header("content-type"), "text/javascript");
  EXPECT_FALSE(script.Header("cache-control").empty());
  EXPECT_EQ(Get(port, "/biaobai/fg2/js/love.js", "If-None-Match: " + script.Header("etag") + "\r\n")
                .status,
            304);
  EXPECT_EQ(Get(port, "/biaobai/fg3/jquery.min.js").body, "/* local */");
  // Where a path led is remembered for a moment, a file that has gone is not:
  // the next folder's answers at once.
  std::filesystem::remove(assets.path() / "fg3" / "jquery.min.js");
  EXPECT_EQ(Get(port, "/biaobai/fg3/jquery.min.js").body, "/* jquery */");

  const auto part = Get(port, "/biaobai/fg2/js/love.js", "Range: bytes=4-7\r\n");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, "love");
  EXPECT_EQ(part.Header("content-range"), "bytes 4-7/13");
  EXPECT_EQ(Get(port, "/biaobai/fg2/js/love.js", "Range: bytes=13-\r\n").status, 416);
  const auto stale =
      Get(port, "/biaobai/fg2/js/love.js", "Range: bytes=4-7\r\nIf-Range: \"old\"\r\n");
  EXPECT_EQ(stale.status, 200);
  EXPECT_EQ(stale.body, "var love = 1;");
  for (const char* target :
       {"/biaobai/fg2/../secret.txt", "/biaobai/fg2/../../../../etc/passwd",
        "/biaobai/fg2/%2e%2e/secret.txt", "/biaobai/fg2%2Fjs/love.js",
        "/biaobai/fg2/js/love.js%00.png", "/biaobai/fg2/out", "/biaobai/fg2\\js\\love.js",
        "/biaobai/fg2/js/", "/biaobai/", "/biaobai/fg2/.git/config", "/biaobai/FG2/.Git/Config",
        "/biaobai/fg2/.env", "/biaobai/fg2/%2Eenv", "/biaobai/fg2/js/peek"})
    EXPECT_EQ(Get(port, target).status, 404) << target;
}

// What a browser makes of a gzip body; "<not gzip>" when it is none.
std::string Gunzip(std::string_view bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "<not gzip>";
  std::string out;
  char chunk[16384];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  return result == Z_STREAM_END && stream.avail_in == 0 ? out : "<not gzip>";
}

TEST_F(ServerTest, PagesPreviewsAndTextAssetsGoGzipOnlyToClientsThatAcceptIt) {
  ScratchDir assets;
  std::filesystem::create_directories(assets.path() / "fg2");
  std::string script;
  while (script.size() < 8000) script += "function f" + std::to_string(script.size()) + "() {}\n";
  std::ofstream(assets.path() / "fg2" / "love.js", std::ios::binary) << script;
  // A second file, so that each asset's bytes are its own, not another's.
  std::string style;
  while (style.size() < 6000) style += ".c" + std::to_string(style.size()) + " { margin: 0 }\n";
  std::ofstream(assets.path() / "fg2" / "love.css", std::ios::binary) << style;
  ServerProcess server(data_.path(), {"--assets", assets.path().string()});
  const int port = server.port();
  const std::string page = SamplePage(server.host(), 16 * 1024, 'z');
  ASSERT_EQ(Post(port, ClaimBody("m", "zip")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("m", "zip", page)).status, 200);
  const auto preview = Post(port, PreviewBody("m", page));
  ASSERT_EQ(preview.status, 200);
  const std::string preview_path = preview.body.substr(preview.body.find("/preview/"));

  constexpr std::string_view kAccepts = "Accept-Encoding: br, gzip;q=0.8, deflate\r\n";
  const std::pair<std::string, std::string> resources[] = {{"/Test/zip", ToGbk(page)},
                                                           {preview_path, ToGbk(page)},
                                                           {"/biaobai/FG2/love.js", script},
                                                           {"/biaobai/fg2/love.css", style}};
  for (const auto& [target, original] : resources) {
    SCOPED_TRACE(target);
    const auto zipped = Get(port, target, kAccepts);
    EXPECT_EQ(zipped.status, 200);
    EXPECT_EQ(zipped.Header("content-encoding"), "gzip");
    EXPECT_EQ(zipped.Header("vary"), "Accept-Encoding");
    EXPECT_LT(zipped.body.size(), original.size() / 2);
    EXPECT_EQ(Gunzip(zipped.body), original);
    for (const char* refusal : {"", "Accept-Encoding: gzip;q=0, *\r\n",
                                "Accept-Encoding: *;q=0\r\n", "Accept-Encoding: identity\r\n"}) {
      const auto plain = Get(port, target, refusal);
      EXPECT_EQ(plain.body, original) << refusal;
      EXPECT_EQ(plain.Header("content-encoding"), "") << refusal;
      EXPECT_EQ(plain.Header("vary"), "Accept-Encoding") << refusal;
      // The two are different bytes under one date; the rest of the
      // header, the pages' sandbox included, is the same.
      EXPECT_NE(plain.Header("etag"), zipped.Header("etag"));
      for (const char* same : {"last-modified", "content-type", "content-security-policy",
                               "cache-control", "x-content-type-options"})
        EXPECT_EQ(plain.Header(same), zipped.Header(same)) << same;
    }
    // HEAD says what GET would send.
    auto head = Exchange(port, GetRequest(target, kAccepts, "HEAD"), true);
    EXPECT_EQ(head.Header("content-length"), std::to_string(zipped.body.size()));
    head.headers.erase("date");
    auto get_headers = zipped.headers;
    get_headers.erase("date");
    EXPECT_EQ(head.headers, get_headers);
    // A validator names the bytes it came with.
    const std::string has_zipped = "If-None-Match: " + zipped.Header("etag") + "\r\n";
    const auto unchanged = Get(port, target, std::string(kAccepts) + has_zipped);
    EXPECT_EQ(unchanged.status, 304);
    EXPECT_EQ(unchanged.Header("etag"), zipped.Header("etag"));
    EXPECT_EQ(Get(port, target, has_zipped).body, original);
  }

  // Ranges are of the bytes as they are.
  const auto part =
      Get(port, "/biaobai/fg2/love.js", std::string(kAccepts) + "Range: bytes=9-18\r\n");
  EXPECT_EQ(part.status, 206);
  EXPECT_EQ(part.body, script.substr(9, 10));
  EXPECT_EQ(part.Header("content-encoding"), "");
  // Nor is an asset changed since the start.
  std::ofstream(assets.path() / "fg2" / "love.css", std::ios::binary | std::ios::app) << "/**/";
  EXPECT_EQ(Get(port, "/biaobai/fg2/love.css", kAccepts).body, style + "/**/");
  // A page replaced is never sent compressed as it was.
  const std::string replaced = SamplePage(server.host(), 16 * 1024, 'y');
  ASSERT_EQ(Post(port, StoreBody("m", "zip", replaced)).status, 200);
  const std::string zipped = Get(port, "/Test/zip", kAccepts).body;
  EXPECT_EQ(Gunzip(zipped), ToGbk(replaced));
  // The compressed bytes are kept with the page: a server started again
  // sends the same ones, read from the database.
  server.Signal(SIGTERM);
  server.Wait();
  ServerProcess again(data_.path(), {"--assets", assets.path().string()});
  const auto stored = Get(again.port(), "/Test/zip", kAccepts);
  EXPECT_EQ(stored.Header("content-encoding"), "gzip");
  EXPECT_EQ(stored.body, zipped);
}

// Clients that stall are dropped; a slow reader that keeps reading is not.
TEST_F(ServerTest, ClosesConnectionsThatKeepItWaiting) {
  ServerProcess server(data_.path(),
                       {"--idle-timeout", "1", "--header-timeout", "1", "--max-body", "32M"});
  const int port = server.port();
  // Larger than what the kernel buffers for a connection (4 MB at most,
  // unless tuned), so that the server has to wait for the reader.
  std::string words;
  while (words.size() < 6 * 1024 * 1024) words += "slowly does it ";
  const std::string page = BuiltPage(server.host(), words);
  ASSERT_EQ(Post(port, ClaimBody("m", "large")).status, 200);
  ASSERT_EQ(Post(port, StoreBody("m", "large", page)).status, 200);

  // The first 2 MB at 640 KB/s: over three seconds in which the server sends
  // less than it has to, though always some.
  std::optional<testing::HttpResponse> slowly_read;
  std::thread reader([&] {
    HttpConnection connection(port);
    int pieces = 0;
    connection.Pace(16 * 1024, [&pieces] {
      if (++pieces <= 128) std::this_thread::sleep_for(std::chrono::milliseconds(25));
    });
    connection.Send(GetRequest("/Test/large"));
    slowly_read = connection.Read();
  });
  HttpConnection idle(port);
  HttpConnection half_header(port);
  ASSERT_TRUE(half_header.Send("GET / HTTP/1.1\r\nHost: x\r\n"));
  HttpConnection half_body(port);
  ASSERT_TRUE(
      half_body.Send("POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nzc=4"));
  EXPECT_TRUE(idle.ClosedByServer());
  EXPECT_TRUE(half_header.ClosedByServer());
  EXPECT_TRUE(half_body.ClosedByServer());
  // Meanwhile the server goes on answering.
  EXPECT_EQ(Post(port, QueryBody("select * from 系统设置")).status, 200);
  reader.join();
  ASSERT_TRUE(slowly_read.has_value());
  EXPECT_EQ(slowly_read->status, 200);
  EXPECT_TRUE(slowly_read->body == ToGbk(page));
}

TEST_F(ServerTest, OneServerPerDataDirectorySurvivingSighupStoppingCleanlyOnSigterm) {
  ServerProcess server(data_.path());
  EXPECT_THROW(ServerProcess second(data_.path()), std::runtime_error);
  HttpConnection idle(server.port());
  // A reload of a server without a certificate (systemctl reload) changes
  // nothing and ends nothing.
  server.Signal(SIGHUP);
  EXPECT_TRUE(server.WaitForLogWith("SIGHUP"));
  ASSERT_TRUE(idle.Send(PostRequest(QueryBody("select * from 系统设置"))));
  EXPECT_EQ(idle.Read().value_or(testing::HttpResponse{}).status, 200);
  server.Signal(SIGTERM);
  EXPECT_TRUE(idle.ClosedByServer());
  const int status = server.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n" << server.Log();
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ServerTest, RefusesBadCommandLines) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--max-body", "lots"},
                                               {"--frobnicate", "1"},
                                               {"--threads", "0"},
                                               {"--idle-timeout", "0"},
                                               {"--announcement", "has い inside"},
                                               {"--tls-cert", "/dev/null"},
                                               {"--tls-cert", "/none", "--tls-key", "/none"},
                                               {"--hsts", "600"},
                                               {"--version-label", "ゼ first"}}) {
    EXPECT_THROW(ServerProcess(data_.path(), args), std::runtime_error) << args[0];
  }
}

}  // namespace
}  // namespace heartpage::server
