// The server's pieces on their own: statement shapes, form parsing, answers,
// HTTP dates and validators, asset paths, command line.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <iterator>
#include <regex>
#include <set>

#include "server/http/rate_limit.h"
#include "server/http/request_log.h"
#include "server/options.h"
#include "server/site/common/client_address.h"
#include "server/site/common/form.h"
#include "server/site/common/http_util.h"
#include "server/site/common/statement.h"
#include "server/site/files/assets.h"
#include "server/storage/postgres/pg_connection.h"
#include "server/storage/storage_workers.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

TEST(StatementTest, AcceptsExactlyTheFourShapes) {
  EXPECT_TRUE(std::holds_alternative<SettingsQuery>(ParseStatement("select * from 系统设置")));

  auto machine = ParseStatement("select * from 免费 where 硬盘ID='WD-1 2'");
  ASSERT_TRUE(std::holds_alternative<MachineLookup>(machine));
  EXPECT_EQ(std::get<MachineLookup>(machine).machine_id, "WD-1 2");

  auto name = ParseStatement("select * from 免费 where 文件名='abc'");
  ASSERT_TRUE(std::holds_alternative<NameLookup>(name));
  EXPECT_EQ(std::get<NameLookup>(name).name, "abc");

  auto claim = ParseStatement("insert into 免费 (硬盘ID,文件名) values ('X', 'y1')");
  ASSERT_TRUE(std::holds_alternative<NameClaim>(claim));
  EXPECT_EQ(std::get<NameClaim>(claim).machine_id, "X");
  EXPECT_EQ(std::get<NameClaim>(claim).name, "y1");
}

TEST(StatementTest, DoubledQuotesAreOneQuoteOfTheValue) {
  auto claim = ParseStatement("insert into 免费 (硬盘ID,文件名) values ('a'', ''b', '''')");
  ASSERT_TRUE(std::holds_alternative<NameClaim>(claim));
  EXPECT_EQ(std::get<NameClaim>(claim).machine_id, "a', 'b");
  EXPECT_EQ(std::get<NameClaim>(claim).name, "'");

  auto lookup = ParseStatement("select * from 免费 where 硬盘ID='x'' or ''1''=''1'");
  ASSERT_TRUE(std::holds_alternative<MachineLookup>(lookup));
  EXPECT_EQ(std::get<MachineLookup>(lookup).machine_id, "x' or '1'='1");

  auto empty = ParseStatement("select * from 免费 where 文件名=''");
  ASSERT_TRUE(std::holds_alternative<NameLookup>(empty));
  EXPECT_EQ(std::get<NameLookup>(empty).name, "");
}

TEST(StatementTest, RefusesEverythingElse) {
  for (const char* text : {
           "select * from 系统设置 ",
           " select * from 系统设置",
           "select * from 系统设置;",
           "select * from 系统设置 -- x",
           "SELECT * FROM 系统设置",
           "select * from 免费",
           "select * from 免费 where 文件名='a",
           "select * from 免费 where 文件名='a''",
           "select * from 免费 where 文件名='a' ",
           "select * from 免费 where 文件名='a';",
           "select * from 免费 where 文件名='a' or '1'='1'",
           "select * from 免费 where 文件名=\"a\"",
           "select * from 免费 where 硬盘ID='a' union select * from 页面",
           "insert into 免费 (硬盘ID,文件名) values ('X','y')",
           "insert into 免费 (硬盘ID,文件名) values ('X', 'y'",
           "insert into 免费 (硬盘ID,文件名) values ('X', 'y'); --",
           "insert into 免费 (硬盘ID,文件名) values ('X', 'y'), ('Z', 'w')",
           "insert into 免费 (文件名,硬盘ID) values ('X', 'y')",
           "insert into 页面 (硬盘ID,文件名) values ('X', 'y')",
           "delete from 免费",
           "",
       }) {
    EXPECT_TRUE(std::holds_alternative<StatementError>(ParseStatement(text))) << text;
  }
}

TEST(FormTest, SplitsAndDecodesFields) {
  auto parsed = ParseForm("zc=52&File=97A98&data=-10544A13A10");
  ASSERT_TRUE(std::holds_alternative<FormFields>(parsed));
  const FormFields& fields = std::get<FormFields>(parsed);
  EXPECT_EQ(fields.at("zc"), "4");
  EXPECT_EQ(fields.at("File"), "ab");
  EXPECT_EQ(fields.at("data"), "\xD6\xD0\r\n");
  // An empty value is an empty text, not an error.
  ASSERT_TRUE(std::holds_alternative<FormFields>(ParseForm("zc=49&sql=")));
}

TEST(FormTest, RefusesMalformedBodies) {
  for (const char* body : {"", "zc", "=49", "zc=49&", "&zc=49", "zc=49&&sql=97", "zc=49&zc=50",
                           "zc=4 9", "zc=49A", "zc=0x31", "zc=%34%39", "zc=49;sql=1"}) {
    EXPECT_TRUE(std::holds_alternative<FormError>(ParseForm(body))) << body;
  }
}

TEST(HttpUtilTest, DatesRoundTripInEveryForm) {
  EXPECT_EQ(FormatHttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
  for (const char* bad :
       {"", "yesterday", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Foo 1994 08:49:37 GMT",
        "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 GMT junk"})
    EXPECT_FALSE(ParseHttpDate(bad).has_value()) << bad;
}

TEST(HttpUtilTest, ConditionalRequests) {
  EXPECT_TRUE(EtagMatches("\"a\"", "\"a\""));
  EXPECT_TRUE(EtagMatches("\"x\", W/\"a\"", "\"a\""));
  EXPECT_TRUE(EtagMatches("*", "\"a\""));
  EXPECT_FALSE(EtagMatches("\"ab\"", "\"a\""));
  EXPECT_FALSE(EtagMatches("a", "\"a\""));

  const std::int64_t modified = 784111777;
  const std::string at = FormatHttpDate(modified);
  EXPECT_TRUE(NotModified("", FormatHttpDate(modified + 1), "\"a\"", modified));
  // The page may have been replaced again within the second the date names.
  EXPECT_FALSE(NotModified("", at, "\"a\"", modified));
  EXPECT_FALSE(NotModified("", FormatHttpDate(modified - 1), "\"a\"", modified));
  EXPECT_FALSE(NotModified("", "garbage", "\"a\"", modified));
  EXPECT_FALSE(NotModified("\"b\"", FormatHttpDate(modified + 1), "\"a\"", modified));
  EXPECT_FALSE(NotModified("", "", "\"a\"", modified));
}

using Span = std::pair<std::uint64_t, std::uint64_t>;

TEST(HttpUtilTest, ByteRanges) {
  using Kind = RangeRequest::Kind;
  const auto part = [](std::string_view header, std::uint64_t size) {
    const RangeRequest range = ParseRange(header, size);
    EXPECT_EQ(range.kind, Kind::kPart) << header;
    return std::pair(range.range.first, range.range.last);
  };
  EXPECT_EQ(part("bytes=0-99", 1000), Span(0, 99));
  EXPECT_EQ(part("bytes=900-", 1000), Span(900, 999));
  EXPECT_EQ(part("bytes=900-5000", 1000), Span(900, 999));
  EXPECT_EQ(part("bytes=-100", 1000), Span(900, 999));
  EXPECT_EQ(part("bytes=-5000", 1000), Span(0, 999));
  for (const char* header : {"bytes=1000-", "bytes=5000-6000", "bytes=-0"})
    EXPECT_EQ(ParseRange(header, 1000).kind, Kind::kUnsatisfiable) << header;
  for (const char* header : {"", "bytes=0-1,5-6", "items=0-1", "bytes=5-1", "bytes=a-b", "bytes=-",
                             "bytes=0x10-", "bytes=99999999999999999999-"})
    EXPECT_EQ(ParseRange(header, 1000).kind, Kind::kWhole) << header;
}

TEST(HttpUtilTest, LogLinesCannotBeForged) {
  EXPECT_EQ(LoggablePath("/Test/abc"), "/Test/abc");
  EXPECT_EQ(LoggablePath("/a\r\nGET /b 200"), "/a\\x0D\\x0AGET\\x20/b\\x20200");
}

class AssetsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.path() / "fg2" / "Img");
    std::filesystem::create_directories(second_.path() / "fg2");
    std::ofstream(root_.path() / "fg2" / "Img" / "Heart.PNG") << "png";
    std::ofstream(root_.path() / "fg2" / "a b.css") << "css";
    std::ofstream(second_.path() / "fg2" / "jquery.js") << "jq";
    std::ofstream(outside_.path() / "secret") << "secret";
    std::filesystem::create_symlink(outside_.path() / "secret", root_.path() / "fg2" / "link");
    std::filesystem::create_symlink(outside_.path(), root_.path() / "fg2" / "dirlink");
    std::filesystem::create_symlink(root_.path() / "fg2" / "a b.css", root_.path() / "inside");
  }
  std::optional<std::filesystem::path> Resolve(std::string_view path) {
    return ResolveAsset({root_.path(), second_.path()}, path);
  }
  testing::ScratchDir root_, second_, outside_;
};

TEST_F(AssetsTest, FindsFilesWhateverTheCaseAndInTheSecondFolder) {
  const auto image = Resolve("FG2/img/heart.png");
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->filename(), "Heart.PNG");
  EXPECT_EQ(MimeTypeOf(*image), "image/png");
  EXPECT_TRUE(Resolve("fg2/a%20b.css").has_value());
  EXPECT_TRUE(Resolve("inside").has_value());  // a link that stays inside
  const auto vendor = Resolve("fg2/jquery.js");
  ASSERT_TRUE(vendor.has_value());
  EXPECT_EQ(MimeTypeOf(*vendor), "text/javascript");
  EXPECT_EQ(MimeTypeOf("x.unknown"), "application/octet-stream");
}

TEST_F(AssetsTest, NeverLeavesTheFolder) {
  for (const char* path : {"../", "fg2/../../secret", "..", ".", "fg2/./Img/Heart.PNG",
                           "fg2/%2e%2e/%2e%2e/secret", "fg2%2fImg%2fHeart.PNG", "fg2%5cImg",
                           "fg2/Img/Heart.PNG%00", "fg2/link", "fg2/dirlink/secret", "fg2/Img",
                           "fg2//Img/Heart.PNG", "", "fg2/%zz", "fg2/%2", "/etc/passwd"})
    EXPECT_FALSE(Resolve(path).has_value()) << path;
}

TEST(RateLimiterTest, BurstThenSteadyRatePerAddress) {
  using namespace std::chrono_literals;
  RateLimiter limiter(/*per_minute=*/10, /*burst=*/3, /*max_addresses=*/4);
  const auto t0 = RateLimiter::Clock::time_point{} + 1h;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(limiter.Take("127.0.0.2", t0), 0s);
  // Out of tokens: one comes back every six seconds.
  EXPECT_EQ(limiter.Take("127.0.0.2", t0), 6s);
  EXPECT_EQ(limiter.Take("127.0.0.2", t0 + 5s), 1s);
  EXPECT_EQ(limiter.Take("127.0.0.2", t0 + 6s), 0s);
  // Another address has its own bucket.
  EXPECT_EQ(limiter.Take("127.0.0.3", t0), 0s);
  // A flood of new addresses keeps the table bounded; an address that has
  // rested is forgotten first and loses nothing by it.
  for (int i = 0; i < 100; ++i) limiter.Take("10.0.0." + std::to_string(i), t0 + 10min);
  EXPECT_LE(limiter.Size(), 4u);
}

TEST(ClientAddressTest, ForwardedForIsBelievedOnlyFromTrustedProxies) {
  const std::vector<std::string> proxies = {"127.0.0.1", "10.0.0.2"};
  // A stranger cannot choose its address.
  EXPECT_EQ(ClientAddress("203.0.113.9", "1.2.3.4", proxies), "203.0.113.9");
  EXPECT_EQ(ClientAddress("127.0.0.1", "", proxies), "127.0.0.1");
  EXPECT_EQ(ClientAddress("127.0.0.1", "198.51.100.7", proxies), "198.51.100.7");
  // Entries the client wrote itself sit left of what our proxies appended.
  EXPECT_EQ(ClientAddress("127.0.0.1", "6.6.6.6, 198.51.100.7, 10.0.0.2", proxies), "198.51.100.7");
  EXPECT_EQ(ClientAddress("127.0.0.1", "junk, 198.51.100.7", proxies), "198.51.100.7");
  EXPECT_EQ(ClientAddress("127.0.0.1", "198.51.100.7:80", proxies), "127.0.0.1");
  EXPECT_EQ(ClientAddress("::ffff:127.0.0.1", "2001:db8::1", proxies), "2001:db8::1");
}

TEST(StorageWorkersTest, FullQueueRefusesAndReadsPassQueuedWrites) {
  StorageWorkers workers({.readers = 1, .writers = 1, .queued_reads = 4, .queued_writes = 2});
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> writer_busy;
  ASSERT_TRUE(workers.Submit(StorageWorkers::Lane::kWrite, [&, released] {
    writer_busy.set_value();
    released.wait();
  }));
  writer_busy.get_future().wait();
  std::atomic<int> writes{0};
  EXPECT_TRUE(workers.Submit(StorageWorkers::Lane::kWrite, [&] { ++writes; }));
  EXPECT_TRUE(workers.Submit(StorageWorkers::Lane::kWrite, [&] { ++writes; }));
  EXPECT_FALSE(workers.Submit(StorageWorkers::Lane::kWrite, [&] { ++writes; }));
  // The writer is stuck, yet a read completes.
  std::promise<void> read;
  ASSERT_TRUE(workers.Submit(StorageWorkers::Lane::kRead, [&] { read.set_value(); }));
  read.get_future().wait();
  release.set_value();
  std::promise<void> last;
  while (!workers.Submit(StorageWorkers::Lane::kWrite, [&] { last.set_value(); })) {
    std::this_thread::yield();
  }
  last.get_future().wait();
  EXPECT_EQ(writes, 2);
}

TEST(OptionsTest, DefaultsAndErrors) {
  const auto env = [](const char* name) -> const char* {
    return std::string_view(name) == "HOME" ? "/home/someone" : nullptr;
  };
  auto parsed = ParseOptions({}, env);
  ASSERT_TRUE(std::holds_alternative<Options>(parsed));
  const Options& options = std::get<Options>(parsed);
  EXPECT_EQ(options.data_dir, "/home/someone/.local/share/heartpage-server");
  EXPECT_EQ(options.server.max_body, 8u * 1024 * 1024);
  EXPECT_EQ(options.server.asset_dirs.size(), 2u);

  const auto xdg = [](const char* name) -> const char* {
    return std::string_view(name) == "XDG_DATA_HOME" ? "/xdg" : "/home/someone";
  };
  EXPECT_EQ(std::get<Options>(ParseOptions({}, xdg)).data_dir, "/xdg/heartpage-server");
  auto sized = ParseOptions({"--max-body", "2M", "--assets", "/a", "--listen", "0.0.0.0:80"}, env);
  ASSERT_TRUE(std::holds_alternative<Options>(sized));
  EXPECT_EQ(std::get<Options>(sized).server.max_body, 2u * 1024 * 1024);
  EXPECT_EQ(std::get<Options>(sized).server.asset_dirs.size(), 1u);
  const auto public_host = [&](const char* value) {
    return std::get<Options>(ParseOptions({"--public-host", value}, env)).server.public_host;
  };
  EXPECT_EQ(public_host("http://pages.example.org"), "pages.example.org");
  EXPECT_EQ(public_host("https://[::1]:8443"), "https://[::1]:8443");

  for (const std::vector<std::string>& args : {std::vector<std::string>{"--data"},
                                               {"--max-body", "0"},
                                               {"--max-body", "-1"},
                                               {"--threads", "many"},
                                               {"--max-connections", "0"},
                                               {"--header-timeout", "0"},
                                               {"--max-body-memory", "lots"},
                                               {"--assets", "a", "--assets", "b", "--assets", "c"},
                                               {"--version-label", "V\n1"},
                                               {"--public-host", "https://"},
                                               {"--public-host", "a.org/x"},
                                               {"--public-host", "a.org\"><b"},
                                               {"--tls-key", "k.pem"},
                                               {"--database", "mysql://x/y"},
                                               {"--database", "postgresql://h/d?nonsense=1"},
                                               {"--database", "postgresql://h/d", "--data", "d"},
                                               {"--database-connections", "1"},
                                               {"--import-sqlite", "d"},
                                               {"stray"}}) {
    EXPECT_TRUE(std::holds_alternative<OptionsError>(ParseOptions(args, env))) << args[0];
  }
  const auto nothing = [](const char*) -> const char* { return nullptr; };
  EXPECT_TRUE(std::holds_alternative<OptionsError>(ParseOptions({}, nothing)));
  // A database needs no folder, and its password stays out of the log.
  const auto shared = ParseOptions({"--database", "postgresql://u:secret@h/d"}, nothing);
  ASSERT_TRUE(std::holds_alternative<Options>(shared));
  EXPECT_TRUE(std::get<Options>(shared).data_dir.empty());
  EXPECT_EQ(RedactedUri("postgresql://u:secret@h/d?password=x&sslmode=require"),
            "postgresql://u:***@h/d?password=***&sslmode=require");

  EXPECT_EQ(PublicHost("0.0.0.0:80", "pages.example.org"), "pages.example.org");
  EXPECT_EQ(PublicHost("[::]:8936", "pages.example.org"), "pages.example.org");
  EXPECT_EQ(PublicHost("127.0.0.1:0", "pages.example.org"), "");
}

// The manual and the table of options cannot drift apart: every option is
// described there, and the manual's options are all the server's.
TEST(OptionsTest, TheManualDescribesExactlyTheServersOptions) {
  std::ifstream file(HEARTPAGE_SERVER_MANUAL);
  std::string manual((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(manual.empty()) << HEARTPAGE_SERVER_MANUAL;
  for (std::size_t at; (at = manual.find("\\-")) != std::string::npos;) manual.erase(at, 1);
  const std::size_t start = manual.find("\n.SH OPTIONS");
  const std::size_t end = manual.find("\n.SH ", start + 1);
  ASSERT_NE(start, std::string::npos);
  const std::string options = manual.substr(start, end - start);

  const std::regex option("--[a-z][a-z0-9-]*[a-z]");
  std::set<std::string> described;
  for (auto it = std::sregex_iterator(options.begin(), options.end(), option);
       it != std::sregex_iterator(); ++it)
    described.insert(it->str());
  std::set<std::string> table;
  for (const std::string_view name : OptionNames()) table.emplace(name);
  EXPECT_EQ(described, table);
  for (const std::string_view name : OptionNames())
    EXPECT_NE(Usage().find(std::string(name) + ' '), std::string::npos) << name;
}

}  // namespace
}  // namespace heartpage::server
