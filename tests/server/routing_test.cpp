// Requests turned into answers in-process, over a storage that can be made
// to fail: what the socket tests cannot reach.

#include <gtest/gtest.h>

#include <map>

#include "server/router.h"
#include "text/value_encoding.h"

namespace heartpage::server {
namespace {

namespace http = boost::beast::http;

class FakeStorage final : public Storage {
 public:
  bool failing = false;

  SiteSettings LoadSettings() override { return Check(SiteSettings{}); }
  void UpdateSettings(const SiteSettings&) override { Check(0); }
  MachineIdHash HashMachineId(std::string_view machine_id) override {
    return MachineIdHash(std::string(machine_id));
  }
  std::vector<Claim> ClaimsOfMachine(const MachineIdHash&) override {
    return Check(std::vector<Claim>{});
  }
  std::vector<Claim> ClaimsOfName(std::string_view) override { return Check(std::vector<Claim>{}); }
  ClaimResult ClaimName(const MachineIdHash&, std::string_view) override {
    return Check(ClaimResult::kClaimed);
  }
  StoreResult StorePage(const MachineIdHash&, std::string_view name,
                        std::string_view bytes) override {
    Check(0);
    auto page = std::make_shared<StoredPage>();
    page->bytes = bytes;
    page->modified = 1700000000;
    page->etag = "\"e1\"";
    pages_[std::string(name)] = std::move(page);
    return StoreResult::kStored;
  }
  std::shared_ptr<const StoredPage> LoadPage(std::string_view name) override {
    Check(0);
    const auto it = pages_.find(std::string(name));
    return it == pages_.end() ? nullptr : it->second;
  }

 private:
  template <typename T>
  T Check(T value) {
    if (failing) throw StorageError("disk on fire");
    return value;
  }
  std::map<std::string, std::shared_ptr<const StoredPage>> pages_;
};

Request Make(http::verb method, std::string_view target, std::string body = {}) {
  Request request(method, target, 11);
  request.body() = std::move(body);
  request.prepare_payload();
  return request;
}

TEST(RoutingTest, AnswersPagesRefusesWhatDoesNotFitAndTurnsStorageFailuresInto500) {
  FakeStorage storage;
  const Site site{storage, "pages.example:80", {}, {}};
  storage.StorePage(MachineIdHash("m1"), "abc", "<p>page</p>");

  const Response page = HandleRequest(Make(http::verb::get, "/Test/abc"), site);
  ASSERT_TRUE(std::holds_alternative<PageResponse>(page));
  const PageResponse& answer = std::get<PageResponse>(page);
  EXPECT_EQ(answer.page->bytes, "<p>page</p>");
  EXPECT_TRUE(answer.keep_alive);
  EXPECT_TRUE(answer.head.starts_with("HTTP/1.1 200 OK\r\n"));
  EXPECT_TRUE(answer.head.ends_with("\r\nContent-Length: 11\r\n\r\n"));
  EXPECT_NE(answer.head.find("\r\nETag: \"e1\"\r\n"), std::string::npos);

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

  storage.failing = true;
  for (const Request& request :
       {Make(http::verb::get, "/Test/abc"), Make(http::verb::get, "/download"),
        Make(http::verb::post, "/asp/index.asp",
             "zc=49&sql=" + EncodeValue("select * from 系统设置"))}) {
    const StringResponse failed = text(request);
    EXPECT_EQ(failed.result_int(), 500) << request.target();
    EXPECT_TRUE(failed.keep_alive()) << request.target();
  }
  // Routing itself needs no storage.
  EXPECT_EQ(text(Make(http::verb::get, "/nowhere")).result_int(), 404);
}

}  // namespace
}  // namespace heartpage::server
