// Requests turned into answers in-process, over a storage that can be made
// to fail: what the socket tests cannot reach.

#include <gtest/gtest.h>

#include <utility>

#include "server/site/router.h"
#include "tests/support/memory_storage.h"
#include "text/value_encoding.h"

namespace heartpage::server {
namespace {

namespace http = boost::beast::http;

// Storage in memory that fails like a disk on fire when told to.
class FailingStorage final : public fuzz::MemoryStorage {
 public:
  bool failing = false;

  SiteSettings LoadSettings() override {
    Check();
    return MemoryStorage::LoadSettings();
  }
  std::shared_ptr<const StoredPage> LoadPage(std::string_view name) override {
    Check();
    return MemoryStorage::LoadPage(name);
  }

 private:
  void Check() const {
    if (failing) throw StorageError("disk on fire");
  }
};

Request Make(http::verb method, std::string_view target, std::string body = {}) {
  Request request(method, target, 11);
  request.body() = std::move(body);
  request.prepare_payload();
  return request;
}

TEST(RoutingTest, AnswersPagesRefusesWhatDoesNotFitAndTurnsStorageFailuresInto500) {
  FailingStorage storage;
  const Site site{storage, "pages.example:80", {}, {}};
  storage.ClaimName(storage.HashMachineId("m1"), "abc");
  storage.StorePage(storage.HashMachineId("m1"), "abc", "<p>page</p>");

  const Response page = HandleRequest(Make(http::verb::get, "/Test/abc"), site);
  ASSERT_TRUE(std::holds_alternative<PageResponse>(page));
  const PageResponse& answer = std::get<PageResponse>(page);
  EXPECT_EQ(answer.page->bytes, "<p>page</p>");
  EXPECT_TRUE(answer.keep_alive);
  EXPECT_TRUE(answer.head.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(answer.head.ends_with("\r\nContent-Length: 11\r\n\r\n"));
  EXPECT_NE(answer.head.find("\r\nETag: \"1\"\r\n"), std::string::npos);

  const auto text = [&](const Request& request) {
    Response response = HandleRequest(request, site);
    EXPECT_TRUE(std::holds_alternative<StringResponse>(response)) << request.target();
    return std::get<StringResponse>(std::move(response));
  };
  const StringResponse head = text(Make(http::verb::head, "/Test/abc"));
  EXPECT_EQ(head.result_int(), 200);
  EXPECT_EQ(head[http::field::content_length], "11");
  EXPECT_TRUE(head.body().empty());
  EXPECT_EQ(text(Make(http::verb::get, "/Test/none")).result_int(), 404);
  const StringResponse post_to_page = text(Make(http::verb::post, "/Test/abc", "x"));
  EXPECT_EQ(post_to_page.result_int(), 405);
  EXPECT_EQ(post_to_page[http::field::allow], "GET, HEAD");

  // The client learns that the storage failed; the log learns why.
  storage.failing = true;
  for (const Request& request :
       {Make(http::verb::get, "/Test/abc"), Make(http::verb::get, "/download"),
        Make(http::verb::post, "/asp/index.asp",
             "zc=49&sql=" + EncodeValue("select * from 系统设置"))}) {
    Audit audit;
    Response response = HandleRequest(request, site, &audit);
    ASSERT_TRUE(std::holds_alternative<StringResponse>(response)) << request.target();
    const StringResponse& failed = std::get<StringResponse>(response);
    EXPECT_EQ(failed.result_int(), 500) << request.target();
    EXPECT_EQ(failed.body(), "storage error\n");
    EXPECT_TRUE(failed.keep_alive()) << request.target();
    EXPECT_EQ(audit.failure, "storage error: disk on fire") << request.target();
  }
  // Routing itself needs no storage.
  EXPECT_EQ(text(Make(http::verb::get, "/nowhere")).result_int(), 404);
}

// What needs the database goes to a storage worker's lane of its kind; what
// is refused, or wants none, is answered at once on the network thread.
TEST(RoutingTest, EachRequestGoesToTheLaneOfWhatItNeeds) {
  fuzz::MemoryStorage storage;
  const Site site{storage, "pages.example:80", {}, {}};
  Request from_web_page = Make(http::verb::post, "/asp/index.asp", "zc=50&sql=1");
  from_web_page.set(http::field::origin, "http://elsewhere.example");
  const std::string media = "/media/" + std::string(64, 'a') + ".png";
  const std::pair<Request, Work> cases[] = {
      {Make(http::verb::post, "/asp/index.asp", "zc=50&sql=1"), Work::kClaim},
      {Make(http::verb::post, "/ASP/Index.asp", "zc=55&File=1"), Work::kClaim},
      {Make(http::verb::post, "/asp/index.asp", "zc=52&File=1"), Work::kStore},
      {Make(http::verb::post, "/asp/index.asp", "zc=49&sql=1"), Work::kRead},
      {Make(http::verb::get, "/asp/index.asp"), Work::kAtOnce},
      {std::move(from_web_page), Work::kAtOnce},
      {Make(http::verb::get, "/test/abc"), Work::kRead},
      {Make(http::verb::get, "/Test/a.b"), Work::kAtOnce},
      {Make(http::verb::post, "/Test/abc"), Work::kAtOnce},
      {Make(http::verb::get, "/biaobai/fg2/love.js"), Work::kAtOnce},
      {Make(http::verb::head, "/preview/" + std::string(24, 'a')), Work::kRead},
      {Make(http::verb::get, "/preview/short"), Work::kAtOnce},
      {Make(http::verb::get, media), Work::kRead},
      {Make(http::verb::get, "/MEDIA" + media.substr(6)), Work::kAtOnce},
      {Make(http::verb::get, "/media/notes.txt"), Work::kAtOnce},
      {Make(http::verb::get, "/support?from=app"), Work::kRead},
      {Make(http::verb::post, "/download"), Work::kAtOnce},
      {Make(http::verb::get, "/api/media"), Work::kAtOnce},
      {Make(http::verb::get, "/nowhere"), Work::kAtOnce},
  };
  for (const auto& [request, work] : cases)
    EXPECT_EQ(WorkOf(request, site).work, work)
        << request.method_string() << " " << request.target();

  // An operation is what its decoded "zc" says, however many zeros lead
  // its code: lane, rate and name alike. A "zc" that names no one
  // operation is refused before anything else is looked at.
  const std::string lookup = "&sql=" + EncodeValue("select * from 免费 where 硬盘ID='QM1'");
  const struct {
    std::string_view code;
    std::string fields;
    Work work;
    std::string_view name;
  } operations[] = {
      {"49", "&sql=1", Work::kRead, "query"},
      {"49", lookup, Work::kLookup, "ownership lookup"},
      {"50", "&sql=1", Work::kClaim, "claim"},
      {"52", "&File=1", Work::kStore, "store"},
      {"53", "&ID=1", Work::kStore, "preview store"},
      {"54", "&File=1", Work::kStore, "take down"},
      {"55", "&File=1", Work::kClaim, "release"},
      {"56", "&File=1", Work::kLookup, "receipts"},
  };
  for (const auto& operation : operations)
    for (const std::string zeros : {"", "0", "00", "0000"}) {
      const Routed routed =
          WorkOf(Make(http::verb::post, "/asp/index.asp",
                      "zc=" + zeros + std::string(operation.code) + operation.fields),
                 site);
      EXPECT_EQ(routed.work, operation.work) << zeros << operation.code;
      EXPECT_EQ(routed.operation, operation.name) << zeros << operation.code;
    }
  for (const std::string body : {"zc=51&File=1", "zc=0052&zc=52&File=1", "zc=&File=1",
                                 "zc=48A52&File=1", "zc=0000052&File=1", "File=1"}) {
    const Request request = Make(http::verb::post, "/asp/index.asp", body);
    EXPECT_EQ(WorkOf(request, site).work, Work::kAtOnce) << body;
    Audit audit;
    const Response refusal = HandleRequest(request, site, &audit);
    EXPECT_EQ(StatusOf(refusal), 400u) << body;
    EXPECT_TRUE(audit.operation.empty()) << body;
  }
}

}  // namespace
}  // namespace heartpage::server
