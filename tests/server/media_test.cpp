// Taking a page down, and the senders' own files, against the real server.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "tests/server/built_page.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"
#include "text/value_encoding.h"

namespace heartpage::server {
namespace {

using namespace testing;

std::string TakeDownBody(std::string_view machine, std::string_view name) {
  return "zc=54&File=" + EncodeValue(name) + "&ID=" + EncodeValue(machine);
}

std::string ReleaseBody(std::string_view machine, std::string_view name) {
  return "zc=55&File=" + EncodeValue(name) + "&ID=" + EncodeValue(machine);
}

std::string MediaRequest(std::string_view machine, std::string_view bytes,
                         std::string_view extra_headers = "") {
  return "POST /api/media HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
         "application/octet-stream\r\nX-Machine-Id: " +
         EncodeValue(machine) + "\r\n" + std::string(extra_headers) +
         "Content-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + std::string(bytes);
}

HttpResponse Upload(int port, std::string_view machine, std::string_view bytes,
                    std::string_view extra_headers = "") {
  return Exchange(port, MediaRequest(machine, bytes, extra_headers));
}

// A PNG as far as its signature goes, `size` bytes in all.
std::string Png(std::size_t size, char fill) {
  std::string bytes = "\x89PNG\r\n\x1A\n";
  bytes.resize(size, fill);
  return bytes;
}

std::string PathOf(const std::string& address) {
  return address.substr(address.find("/media/"));
}

// Files stored, and their chunks, as the database holds them.
std::string MediaRows(const std::filesystem::path& data) {
  sqlite3* db = nullptr;
  sqlite3_open_v2((data / "heartpage.sqlite3").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string rows;
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT (SELECT count(*) FROM 媒体) || '/' || (SELECT count(*) FROM 媒体块) "
                     "|| '/' || (SELECT count(*) FROM 媒体上传)",
                     -1, &statement, nullptr);
  if (sqlite3_step(statement) == SQLITE_ROW)
    rows = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

// Bytes of the files under `dir` the server has open or that lie there, each
// file once however many connections send it.
std::uintmax_t HeldUnder(pid_t pid, const std::filesystem::path& dir) {
  namespace fs = std::filesystem;
  std::set<std::pair<dev_t, ino_t>> seen;
  std::uintmax_t bytes = 0;
  const auto count = [&](const fs::path& path) {
    struct stat facts {};
    if (stat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) &&
        seen.insert({facts.st_dev, facts.st_ino}).second)
      bytes += static_cast<std::uintmax_t>(facts.st_size);
  };
  std::error_code ec;
  for (const fs::directory_entry& fd :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (fs::read_symlink(fd.path(), ec).string().starts_with(dir.string())) count(fd.path());
  for (const fs::directory_entry& file : fs::recursive_directory_iterator(dir, ec))
    count(file.path());
  return bytes;
}

// A client that asks for a file and then reads no more than the start of
// the answer, with as small a window as the system allows.
class StalledReader : public HttpConnection {
 public:
  StalledReader(int port, const std::string& request, const std::string& from = "127.0.0.1")
      : HttpConnection(port, from) {
    const int smallest = 1;
    setsockopt(fd(), SOL_SOCKET, SO_RCVBUF, &smallest, sizeof smallest);
    Send(request);
  }
  // Whether the server has cut the connection off: what was on its way is
  // dropped, so that the reset comes at once.
  bool Cut() {
    char bytes[65536];
    long got;
    while ((got = recv(fd(), bytes, sizeof bytes, MSG_DONTWAIT)) > 0) {
    }
    return got < 0 && errno == ECONNRESET;
  }
  // The first bytes of the answer: the server has begun to send it.
  std::string Start() {
    char start[12] = {};
    return recv(fd(), start, sizeof start, MSG_WAITALL) == sizeof start
               ? std::string(start, sizeof start)
               : std::string();
  }
};

TEST(TakeDownTest, OnlyTheOwnerTakesAPageDownAndMayPublishAgain) {
  ScratchDir data;
  ServerProcess server(data.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("owner", "love")).status, 200);
  const std::string page = BuiltPage(server.host(), "page");
  ASSERT_EQ(Post(port, StoreBody("owner", "love", page)).status, 200);
  ASSERT_EQ(Get(port, "/Test/love").status, 200);  // now kept in memory

  EXPECT_EQ(Post(port, TakeDownBody("someone else", "love")).status, 403);
  EXPECT_EQ(Post(port, TakeDownBody("owner", "nobody")).status, 404);
  EXPECT_EQ(Post(port, TakeDownBody("owner", "../love")).status, 400);
  const HttpResponse missing = Post(port, "zc=54&File=" + EncodeValue("love"));
  EXPECT_EQ(missing.status, 400);
  EXPECT_EQ(missing.body, "operation 6: missing field ID\n");
  EXPECT_EQ(Get(port, "/Test/love").status, 200);

  EXPECT_EQ(Post(port, TakeDownBody("owner", "LOVE")).status, 200);
  const HttpResponse gone = Get(port, "/Test/love");
  EXPECT_EQ(gone.status, 410);
  EXPECT_NE(gone.body.find("这个网页已被它的主人撤下"), std::string::npos);
  EXPECT_EQ(Get(port, "/Test/unknown").status, 404);
  // The name stays the owner's.
  EXPECT_EQ(Post(port, ClaimBody("someone else", "love")).status, 409);
  const std::string again = BuiltPage(server.host(), "again");
  ASSERT_EQ(Post(port, StoreBody("owner", "love", again)).status, 200);
  EXPECT_EQ(Get(port, "/Test/love").body, ToGbk(again));
}

// A name given up answers as never published, also where its page was kept
// in memory, and is anyone's to claim.
TEST(ReleaseTest, OnlyTheOwnerGivesANameUpAndItIsFreeForAnyone) {
  ScratchDir data;
  ServerProcess server(data.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("owner", "love")).status, 200);
  const std::string page = BuiltPage(server.host(), "page");
  ASSERT_EQ(Post(port, StoreBody("owner", "love", page)).status, 200);
  ASSERT_EQ(Get(port, "/Test/love").status, 200);
  const HttpResponse slashed = Get(port, "/Test/love/");
  EXPECT_EQ(slashed.status, 301);
  EXPECT_EQ(slashed.headers.at("location"), "/Test/love");

  EXPECT_EQ(Post(port, ReleaseBody("someone else", "love")).status, 403);
  EXPECT_EQ(Post(port, ReleaseBody("owner", "nobody")).status, 404);
  EXPECT_EQ(Post(port, ReleaseBody("owner", "lo ve")).status, 400);
  const HttpResponse missing = Post(port, "zc=55&ID=" + EncodeValue("owner"));
  EXPECT_EQ(missing.status, 400);
  EXPECT_EQ(missing.body, "operation 7: missing field File\n");
  EXPECT_EQ(Get(port, "/Test/love").body, ToGbk(page));

  EXPECT_EQ(Post(port, ReleaseBody("owner", "Love")).status, 200);
  // The address may be on a poster: she reads why nothing opens, in Chinese.
  const HttpResponse gone = Get(port, "/Test/love");
  EXPECT_EQ(gone.status, 404);
  EXPECT_NE(gone.body.find("这个网页已经不在了"), std::string::npos);
  EXPECT_EQ(gone.headers.at("content-type"), "text/html; charset=utf-8");
  EXPECT_NE(gone.headers.at("content-security-policy").find("frame-ancestors 'none'"),
            std::string::npos);
  EXPECT_EQ(Post(port, ReleaseBody("owner", "love")).status, 404);
  EXPECT_EQ(Post(port, StoreBody("owner", "love", page)).status, 403);
  ASSERT_EQ(Post(port, ClaimBody("someone else", "love")).status, 200);
  const std::string theirs = BuiltPage(server.host(), "new");
  ASSERT_EQ(Post(port, StoreBody("someone else", "love", theirs)).status, 200);
  EXPECT_EQ(Get(port, "/Test/love").body, ToGbk(theirs));
  EXPECT_TRUE(server.WaitForLogLine("POST /asp/index.asp 200 ", " release Love ok"));
}

TEST(MediaTest, FilesAreCheckedByContentKeptOnceAndServedInRanges) {
  ScratchDir data;
  // Files are not bodies held in memory: --max-body does not bound them.
  ServerProcess server(
      data.path(), {"--max-picture", "100K", "--media-per-machine", "150K", "--max-body", "64K"});
  const int port = server.port();

  const std::string picture = Png(60 * 1024, 'p');
  const HttpResponse stored = Upload(port, "m1", picture);
  ASSERT_EQ(stored.status, 200) << stored.body;
  EXPECT_TRUE(stored.body.ends_with(".png"));
  EXPECT_EQ(Upload(port, "m1", picture).body, stored.body);  // same bytes, same file
  const std::string path = PathOf(stored.body);

  const HttpResponse whole = Get(port, path);
  EXPECT_EQ(whole.status, 200);
  EXPECT_EQ(whole.body, picture);
  EXPECT_EQ(whole.headers.at("content-type"), "image/png");
  EXPECT_EQ(whole.headers.at("x-content-type-options"), "nosniff");
  EXPECT_EQ(whole.headers.at("cache-control"), "public, max-age=31536000, immutable");
  // Inert, yet a browser's own viewer may play it: no sandbox.
  EXPECT_TRUE(whole.headers.at("content-security-policy").starts_with("default-src 'none'"));
  const HttpResponse part = Get(port, path, "Range: bytes=262140-\r\n");
  EXPECT_EQ(part.status, 416);
  const HttpResponse seek = Get(port, path, "Range: bytes=100-60000\r\n");
  EXPECT_EQ(seek.status, 206);
  EXPECT_EQ(seek.headers.at("content-range"), "bytes 100-60000/61440");
  EXPECT_EQ(seek.body, picture.substr(100, 59901));
  EXPECT_EQ(Get(port, path, "If-None-Match: " + whole.headers.at("etag") + "\r\n").status, 304);
  const HttpResponse head = Exchange(port, testing::GetRequest(path, "", "HEAD"), true);
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers.at("content-length"), "61440");
  EXPECT_EQ(Get(port, path.substr(0, path.size() - 3) + "jpg").status, 404);

  // Text renamed to look like a picture; a picture over its kind's limit;
  // a machine past its quota, while another still has its own.
  EXPECT_EQ(Upload(port, "m1", "just some text, named photo.jpg").status, 415);
  EXPECT_EQ(Upload(port, "m1", Png(101 * 1024, 'q')).status, 413);
  EXPECT_EQ(Upload(port, "m1", Png(95 * 1024, 'r')).status, 413);
  EXPECT_EQ(Upload(port, "m2", Png(95 * 1024, 'r')).status, 200);
  // Refused from the header alone: no identifier, a malformed one, a web
  // page's request, a declared length over every limit.
  EXPECT_EQ(
      Exchange(port, "POST /api/media HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc").status,
      400);
  EXPECT_EQ(Exchange(port,
                     "POST /api/media HTTP/1.1\r\nHost: x\r\nX-Machine-Id: 12B\r\n"
                     "Content-Length: 3\r\n\r\nabc")
                .status,
            400);
  // One the endpoint refuses, because it would split the record sets that
  // answer its owner, is no identifier here either.
  EXPECT_EQ(Upload(port, "m4いゼ", Png(10, 'u')).status, 400);
  EXPECT_EQ(Upload(port, "m1", picture, "Origin: http://elsewhere\r\n").status, 403);
  EXPECT_EQ(Exchange(port, "POST /api/media HTTP/1.1\r\nHost: x\r\nX-Machine-Id: " +
                               EncodeValue("m1") + "\r\nContent-Length: 999999999\r\n\r\n")
                .status,
            413);
  EXPECT_EQ(Get(port, "/api/media").status, 405);

  // A client that gives up half-way leaves nothing behind.
  const std::string before = MediaRows(data.path());
  {
    HttpConnection connection(port);
    std::string request = MediaRequest("m3", Png(80 * 1024, 's'));
    request.resize(request.size() - 40 * 1024);
    connection.Send(request);
    connection.ShutdownWrite();
    EXPECT_FALSE(connection.Read().has_value());
  }
  EXPECT_EQ(Upload(port, "m3", Png(10, 't')).status, 200);  // served after the cut-off one
  EXPECT_EQ(MediaRows(data.path()), "3/3/3");
  EXPECT_EQ(before, "2/2/2");
}

// The maker's door: the same upload, quota and answers, with her owner key
// for the identifier, taken only from the site's own pages, answered in JSON.
TEST(MediaTest, TheMakersDoorIsTheSameUploadUnderItsOwnerKey) {
  ScratchDir data;
  ServerProcess server(data.path(), {"--max-picture", "100K", "--media-per-machine", "150K"});
  const int port = server.port();
  const std::string key = "00112233445566778899AABBCCDDEEFF";
  const auto upload = [&](std::string_view headers, std::string_view bytes) {
    return Exchange(port, "POST /api/make/media HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              std::string(headers) + "Content-Length: " +
                              std::to_string(bytes.size()) + "\r\n\r\n" + std::string(bytes));
  };
  const std::string mine = "Origin: http://127.0.0.1\r\nX-Owner-Key: " + key + "\r\n";
  const std::string picture = Png(60 * 1024, 'k');
  const HttpResponse stored = upload(mine, picture);
  ASSERT_EQ(stored.status, 200) << stored.body;
  EXPECT_EQ(stored.headers.at("content-type"), "application/json; charset=utf-8");
  const HttpResponse by_program = Upload(port, "m1", picture);
  EXPECT_EQ(stored.body, "{\"address\":\"" + by_program.body + "\"}\n");
  EXPECT_EQ(Get(port, PathOf(by_program.body)).body, picture);

  // Her key has a machine's quota, of its own: either case of its digits
  // is the one key, and the program's identifier of the same digits is not it.
  EXPECT_EQ(upload("Origin: http://127.0.0.1\r\nX-Owner-Key: 00112233445566778899aabbccddeeff\r\n",
                   Png(95 * 1024, 'l'))
                .status,
            413);
  EXPECT_EQ(upload(mine, Png(95 * 1024, 'l')).body,
            "{\"error\":\"this machine's files take all the room it has\"}\n");
  EXPECT_EQ(Upload(port, "00112233445566778899aabbccddeeff", Png(95 * 1024, 'l')).status, 200);
  EXPECT_EQ(upload(mine, "just some text").status, 415);

  // Another site's page, a page in an origin of its own, no key, a key that
  // is not 32 digits, the program's header instead of a key.
  EXPECT_EQ(upload("Origin: http://elsewhere\r\nX-Owner-Key: " + key + "\r\n", picture).status,
            403);
  EXPECT_EQ(upload("Origin: null\r\nX-Owner-Key: " + key + "\r\n", picture).status, 403);
  EXPECT_EQ(upload("Origin: http://127.0.0.1\r\n", picture).status, 400);
  EXPECT_EQ(upload("Origin: http://127.0.0.1\r\nX-Owner-Key: " + key + "0\r\n", picture).status,
            400);
  EXPECT_EQ(upload("X-Machine-Id: " + EncodeValue("m1") + "\r\n", picture).status, 400);
  EXPECT_EQ(server.Log().find(key.substr(0, 16)), std::string::npos);
  EXPECT_EQ(server.Log().find("00112233445566778899aabb"), std::string::npos);
}

// Clients that ask for a large file and never read it hold their connections
// and no more: no copy of the file, not the file in memory, and the storage
// workers stay free for everyone else.
TEST(MediaTest, ClientsThatNeverReadHoldNeitherCopiesNorMemory) {
  ScratchDir data;
  ScratchDir spool;
  ServerProcess server(data.path(), {"--max-picture", "9M", "--max-music", "1M", "--max-video",
                                     "1M", "--media-spool", spool.path().string()});
  const int port = server.port();
  const std::size_t size = 8 * 1024 * 1024;
  const HttpResponse stored = Upload(port, "m1", Png(size, 'v'));
  ASSERT_EQ(stored.status, 200) << stored.body;
  const std::string path = PathOf(stored.body);
  const std::size_t resident_kb = OwnResidentKb(server.pid());

  std::vector<std::unique_ptr<StalledReader>> readers;
  for (int i = 0; i < 16; ++i)
    readers.push_back(std::make_unique<StalledReader>(
        port, GetRequest(path, i % 2 == 0 ? "" : "Range: bytes=" + std::to_string(i) + "-\r\n")));
  for (const auto& reader : readers) ASSERT_TRUE(reader->Start().starts_with("HTTP/1.1 20"));

  EXPECT_EQ(HeldUnder(server.pid(), spool.path()), 0u);
  EXPECT_LT(OwnResidentKb(server.pid()), resident_kb + 40 * 1024);
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_EQ(Post(port, QueryBody("select * from 系统设置")).status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));

  // Other files, and the same one, go whole beside them, leaving nothing.
  for (const char fill : {'w', 'x'}) {
    const HttpResponse other = Upload(port, "m2", Png(size, fill));
    ASSERT_EQ(other.status, 200) << other.body;
    EXPECT_EQ(Get(port, PathOf(other.body)).body, Png(size, fill));
  }
  EXPECT_EQ(Get(port, path).body, Png(size, 'v'));
  EXPECT_EQ(HeldUnder(server.pid(), spool.path()), 0u);
}

// Slow readers of large files, from one address and from several, hold a
// piece of memory each and nothing on disk. Past an address's share of the
// room, and past the room, the slowest reader gives way to a newcomer once
// it has shown its pace: another address's photo always comes whole.
TEST(MediaTest, SlowReadersOfLargeFilesKeepNoOnesPhotoOut) {
  ScratchDir data;
  ScratchDir spool;
  // Room for eight answers at once, two of them from one address.
  ServerProcess server(data.path(),
                       {"--max-picture", "6M", "--max-music", "1M", "--max-video", "1M",
                        "--media-spool", spool.path().string(), "--max-send-memory", "2M"});
  const int port = server.port();
  // Larger than all the kernel holds for a connection: a reader that takes
  // nothing is still being sent its file.
  const std::size_t size = 6 * 1024 * 1024;
  std::vector<std::string> paths;
  for (const char fill : {'a', 'b', 'c', 'd'}) {
    const std::string from = std::string("127.0.0.") + std::to_string(2 + fill % 3);
    const HttpResponse stored =
        Exchange(port, MediaRequest(std::string("m") + fill, Png(size, fill)), false, from);
    ASSERT_EQ(stored.status, 200) << stored.body;
    paths.push_back(PathOf(stored.body));
  }
  const std::string photo = Png(3 * 1024 * 1024, 'p');
  const HttpResponse stored = Exchange(port, MediaRequest("mp", photo), false, "127.0.0.9");
  ASSERT_EQ(stored.status, 200) << stored.body;
  const std::size_t resident_kb = OwnResidentKb(server.pid());

  std::vector<std::unique_ptr<StalledReader>> readers;
  const auto read_slowly = [&](const std::string& path, const std::string& from) {
    readers.push_back(std::make_unique<StalledReader>(port, GetRequest(path), from));
    return readers.back()->Start();
  };
  EXPECT_EQ(read_slowly(paths[0], "127.0.0.2"), "HTTP/1.1 200");
  EXPECT_EQ(read_slowly(paths[1], "127.0.0.2"), "HTTP/1.1 200");
  // Its share is held by readers too new to be told slow; once they have
  // shown their pace, the slower gives way to the address's newcomer.
  const auto start = std::chrono::steady_clock::now();
  std::string third;
  while ((third = read_slowly(paths[2], "127.0.0.2")) == "HTTP/1.1 503" &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(third, "HTTP/1.1 200");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  for (const char* from : {"127.0.0.3", "127.0.0.4", "127.0.0.5"})
    for (const std::string& path : {paths[2], paths[3]})
      EXPECT_EQ(read_slowly(path, from), "HTTP/1.1 200") << from;
  EXPECT_EQ(HeldUnder(server.pid(), spool.path()), 0u);
  EXPECT_LT(OwnResidentKb(server.pid()), resident_kb + kShadowFactor * 16 * 1024 + kQuarantineKb);

  // The room is full: the one reader old enough to be told slow gives way,
  // and another address's photo comes whole at once, and the next too.
  for (const char* from : {"127.0.0.10", "127.0.0.11"}) {
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_TRUE(Exchange(port, GetRequest(PathOf(stored.body)), false, from).body == photo);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  }
  EXPECT_EQ(std::count_if(readers.begin(), readers.end(),
                          [](const auto& reader) { return reader->Cut(); }),
            2);
  EXPECT_EQ(HeldUnder(server.pid(), spool.path()), 0u);
}

// At the upload slots' limit, the slowest file from another address gives
// way to a newcomer, ending unstored, while a faster one goes on.
TEST(MediaTest, TheSlowestUploadGivesWayToANewcomerFromElsewhere) {
  ScratchDir data;
  ServerProcess server(data.path(), {"--media-uploads", "4", "--min-media-rate", "1K"});
  const int port = server.port();
  const std::string file = Png(200 * 1024, 's');
  const std::string request = MediaRequest("slow", file, "Expect: 100-continue\r\n");
  const std::string head = request.substr(0, request.size() - file.size());
  std::vector<std::unique_ptr<HttpConnection>> slow;
  const std::size_t sent[] = {4096, 16384, 32768, 65536};
  for (int i = 0; i < 4; ++i) {
    slow.push_back(std::make_unique<HttpConnection>(port, i < 2 ? "127.0.0.2" : "127.0.0.3"));
    slow.back()->Send(head);
    ASSERT_EQ(slow.back()->Read().value_or(HttpResponse{}).status, 100);
    slow.back()->Send(file.substr(0, sent[i]));
  }
  // Past the grace, where every one of them still keeps the pace.
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(Exchange(port, MediaRequest("new", Png(1000, 'n')), false, "127.0.0.4").status, 200);
  slow.front()->LimitWaiting(5);
  EXPECT_NE(slow.front()->Read().value_or(HttpResponse{}).status, 200);
  EXPECT_FALSE(slow.front()->TimedOut());
  ASSERT_TRUE(slow.back()->Send(file.substr(sent[3])));
  EXPECT_EQ(slow.back()->Read().value_or(HttpResponse{}).status, 200);
}

// One address sending files under ever new identifiers fills only its part
// of the room for files, and never the pages' own: another address still
// publishes.
TEST(MediaTest, OneAddressCannotFillTheServerWithNewIdentifiers) {
  ScratchDir data;
  ServerProcess server(data.path(), {"--max-storage", "2M"});
  const int port = server.port();
  HttpResponse refused;
  int stored = 0;
  for (; stored < 20; ++stored) {
    const std::string file = Png(110 * 1024, static_cast<char>('a' + stored));
    refused = Exchange(port, MediaRequest("id" + std::to_string(stored), file), false, "127.0.0.2");
    if (refused.status != 200) break;
  }
  EXPECT_EQ(stored, 3);  // 2M less the pages' quarter, of which an address has a quarter
  EXPECT_EQ(refused.status, 429);
  EXPECT_EQ(refused.body, "files sent from this address take all the room one address may have\n");
  EXPECT_GE(std::stoi(refused.Header("retry-after")), 1);
  ASSERT_EQ(Exchange(port, PostRequest(ClaimBody("other", "page")), false, "127.0.0.3").status,
            200);
  EXPECT_EQ(Exchange(port,
                     PostRequest(StoreBody("other", "page",
                                           BuiltPage(server.host(), std::string(12 * 1024, 'p')))),
                     false, "127.0.0.3")
                .status,
            200);
}

// Files trickling in hold their address's two slots and no more, and only
// for as long as they keep the pace; one that falls behind ends unstored and
// gives its slot back.
TEST(MediaTest, SlowFilesHoldOnlyTheirAddresssSlotsAndNotForLong) {
  ScratchDir data;
  ServerProcess server(data.path(), {"--media-uploads", "3", "--min-media-rate", "64K"});
  const int port = server.port();
  const std::string file = Png(200 * 1024, 's');
  const std::string request = MediaRequest("slow", file, "Expect: 100-continue\r\n");
  const std::string head = request.substr(0, request.size() - file.size());
  std::vector<std::unique_ptr<HttpConnection>> slow;
  for (int i = 0; i < 2; ++i) {
    slow.push_back(std::make_unique<HttpConnection>(port, "127.0.0.2"));
    slow.back()->Send(head);
    ASSERT_EQ(slow.back()->Read().value_or(HttpResponse{}).status, 100);
  }
  EXPECT_EQ(Exchange(port, MediaRequest("slow", Png(1000, 't')), false, "127.0.0.2").status, 429);
  EXPECT_EQ(Exchange(port, MediaRequest("quick", Png(1000, 'q')), false, "127.0.0.3").status, 200);

  // 4K a second: well above --min-body-rate, far below the files' pace.
  const auto start = std::chrono::steady_clock::now();
  std::size_t sent = 0;
  std::vector<bool> open(slow.size(), true);
  while (std::ranges::count(open, true) > 0 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(15)) {
    for (std::size_t i = 0; i < slow.size(); ++i)
      open[i] = open[i] && slow[i]->Send(file.substr(sent, 2048));
    sent += 2048;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  EXPECT_EQ(std::ranges::count(open, true), 0);
  EXPECT_LT(sent, file.size() / 2);
  EXPECT_EQ(Exchange(port, MediaRequest("slow", Png(1000, 't')), false, "127.0.0.2").status, 200);
  EXPECT_EQ(MediaRows(data.path()), "2/2/2");
}

}  // namespace
}  // namespace heartpage::server
