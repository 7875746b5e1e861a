// Requests turned into answers in-process, over a storage that can be made
// to fail: what the socket tests cannot reach.

#include <gtest/gtest.h>

#include <utility>

#include "server/site/common/json.h"
#include "server/site/endpoint/maker.h"
#include "server/site/router.h"
#include "server/storage/sqlite/sqlite_storage.h"
#include "tests/support/memory_storage.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"
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
  // A chat or a hand adds a slash: one address, what the link carried kept.
  for (const auto& [target, location] : {std::pair{"/Test/abc/", "/Test/abc"},
                                         {"/test/ABC/?from=qr&x=1", "/Test/ABC?from=qr&x=1"},
                                         {"/Test/abc/?", "/Test/abc?"},
                                         {"/Test/abc//", ""},
                                         {"/Test/a.c/", ""},
                                         {"/Test//", ""}}) {
    const StringResponse moved = text(Make(http::verb::get, target));
    EXPECT_EQ(moved.result_int(), *location ? 301 : 404) << target;
    EXPECT_EQ(moved[http::field::location], location) << target;
  }
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
      {"57", "&File=1", Work::kLookup, "page fields"},
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

namespace heartpage::server {
namespace {

// The maker's JSON, as a browser on the site sends it.
Request Json(std::string_view operation, std::string body) {
  Request request = Make(http::verb::post, "/api/make/" + std::string(operation), std::move(body));
  request.set(http::field::content_type, "application/json");
  request.set(http::field::origin, "http://pages.example");
  request.set(http::field::host, "pages.example");
  return request;
}

TEST(RoutingTest, TheMakersJsonMeetsTheEndpointsOperationsAndRefusesWhatDoesNotFit) {
  // A real engine: what came back from a page and its taking down are
  // stored as the server stores them.
  const testing::ScratchDir dir;
  SqliteStorage storage(dir.path() / "maker.sqlite3", std::string(MachineIdHasher::kKeyBytes, 'k'),
                        {});
  const Site site{storage, "pages.example:80", {}, {}};
  const std::string key = "00112233445566778899aabbccddeeff";
  const auto answer = [&](const Request& request, Audit* audit = nullptr) {
    Response response = HandleRequest(request, site, audit);
    EXPECT_TRUE(std::holds_alternative<StringResponse>(response)) << request.target();
    return std::get<StringResponse>(std::move(response));
  };
  const auto said = [&](const Request& request) {
    const StringResponse response = answer(request);
    return std::to_string(response.result_int()) + " " + response.body();
  };
  const std::string store =
      R"j({"key":")j" + key +
      R"j(","name":"Alice","style":1,)j"
      R"j("fields":{"Text1(1)":"小\u96e8","Question":"嫁给我？"},"checked":false})j";

  EXPECT_EQ(said(Json("name", R"j({"name":"alice"})j")), "200 {\"taken\":false}\n");
  EXPECT_EQ(said(Json("claim", R"j({"key":")j" + key + R"j(","name":"Alice"})j")),
            "200 {\"claimed\":true}\n");
  // The key in capitals is the same key; another key is another owner.
  Audit audit;
  EXPECT_EQ(answer(Json("store", store), &audit).body(),
            "{\"address\":\"http://pages.example:80/Test/alice\"}\n");
  EXPECT_EQ(audit.operation, "store");
  EXPECT_EQ(audit.name, "alice");
  std::string upper = store;
  upper.replace(upper.find(key), key.size(), "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(answer(Json("store", upper)).result_int(), 200);
  std::string other = store;
  other.replace(other.find(key), 1, "1");
  EXPECT_EQ(said(Json("store", other)),
            "403 {\"error\":\"file name claimed by another machine\"}\n");
  EXPECT_EQ(said(Json("owned", R"j({"key":")j" + key + "\"}")), "200 {\"names\":[\"alice\"]}\n");
  EXPECT_EQ(said(Json("name", R"j({"name":"ALICE"})j")), "200 {\"taken\":true}\n");
  // What was stored is the builders' page of her fields, with her question.
  const auto page = storage.LoadPage("alice");
  ASSERT_TRUE(page);
  const std::string text = FromGbk(page->bytes);
  EXPECT_NE(text.find("小雨"), std::string::npos);
  EXPECT_NE(text.find("嫁给我？"), std::string::npos);

  // No machine's identifier is the key: the program sending the key's
  // digits as its disk serial owns nothing.
  const std::string lookup =
      "zc=49&sql=" + EncodeValue("select * from 免费 where 硬盘ID='" + key + "'");
  EXPECT_EQ(answer(Make(http::verb::post, "/asp/index.asp", lookup)).body(), "");

  // Hostile or mistaken bodies get one line and change nothing.
  Request elsewhere = Json("claim", R"j({"key":")j" + key + R"j(","name":"bob"})j");
  elsewhere.set(http::field::origin, "http://elsewhere.example");
  Request as_form = Json("name", R"j({"name":"bob"})j");
  as_form.set(http::field::content_type, "application/x-www-form-urlencoded");
  const std::pair<Request, std::string> refused[] = {
      {std::move(elsewhere), "403 {\"error\":\"taken only from the site's own maker\"}\n"},
      {std::move(as_form), "415 {\"error\":\"sent as application/json\"}\n"},
      {Json("claim", R"j({"key":"00112233","name":"bob"})j"),
       "400 {\"error\":\"key must be 32 hexadecimal digits\"}\n"},
      {Json("claim", R"j({"key":")j" + key + R"j(","name":"b'ob"})j"),
       "400 {\"error\":\"malformed file name\"}\n"},
      {Json("name", R"j({"name":"bob","name":"eve"})j"),
       "400 {\"error\":\"member name is given twice\"}\n"},
      {Json("name", R"j({"name":"\ud800"})j"), "400 {\"error\":\"lone surrogate in a string\"}\n"},
      {Json("name", "{\"name\":\"b\xC0\xAF\"}"), "400 {\"error\":\"a string is not UTF-8\"}\n"},
      {Json("name", R"j({"name":"bob"} {})j"),
       "400 {\"error\":\"unexpected text after the object\"}\n"},
      {Json("name", R"j({"name":{"a":{"b":"c"}}})j"),
       "400 {\"error\":\"member a must be a string\"}\n"},
      {Json("store", R"j({"key":")j" + key + R"j(","name":"bob","style":1,"data":"<html>"})j"),
       "400 {\"error\":\"unexpected member data\"}\n"},
      {Json("store", R"j({"key":")j" + key + R"j(","name":"bob","style":9})j"),
       "400 {\"error\":\"style must be a number from 1 to 8\"}\n"},
      {Json("preview", R"j({"style":1,"fields":{"Text9(0)":"x"}})j"),
       "400 {\"error\":\"style 1 has no field Text9(0)\"}\n"},
      {Json("preview", "{\"style\":1,\"fields\":{\"Text1(0)\":\"" +
                           std::string(kMaxMakerBodyBytes, 'x') + "\"}}"),
       "413 {\"error\":\"body too large\"}\n"},
      {Json("unknown", "{}"), "404 {\"error\":\"no such operation\"}\n"},
      // The site draws QR codes of its own addresses only.
      {Json("qr", R"j({"text":"http://elsewhere.example/Test/alice"})j"),
       "400 {\"error\":\"only an address on this site\"}\n"},
      {Json("qr", R"j({"text":"http://pages.example:80.elsewhere.example/"})j"),
       "400 {\"error\":\"only an address on this site\"}\n"},
      {Json("qr", "{\"text\":\"http://pages.example:80/" + std::string(3000, 'a') + "\"}"),
       "413 {\"error\":\"text too long\"}\n"},
      {Json("check", R"j({"style":1,"code":5})j"), "400 {\"error\":\"code must be a string\"}\n"},
      {Json("check", R"j({"style":1,"opens":"2020-01-01 00:00:00"})j"),
       "400 {\"error\":\"unexpected member opens\"}\n"},
      // Her settings meet the store's own rules: a code needs its hint.
      {Json("store", R"j({"key":")j" + key + R"j(","name":"alice","style":1,"code":"上海"})j"),
       "400 {\"error\":\"a code without a hint\"}\n"},
  };
  for (const auto& [request, expected] : refused) EXPECT_EQ(said(request), expected);
  EXPECT_FALSE(storage.LoadPage("bob"));
  EXPECT_TRUE(storage.ClaimsOfName("bob").empty());

  // Each goes where its operation goes, the preview at a rate of its own;
  // what is refused is refused at once.
  const std::pair<Request, Work> lanes[] = {
      {Json("name", R"j({"name":"bob"})j"), Work::kRead},
      {Json("owned", R"j({"key":")j" + key + "\"}"), Work::kLookup},
      {Json("claim", R"j({"key":")j" + key + R"j(","name":"bob"})j"), Work::kClaim},
      {Json("store", store), Work::kStore},
      {Json("preview", R"j({"style":2})j"), Work::kPreview},
      {Json("qr", R"j({"text":"http://pages.example:80/Test/alice"})j"), Work::kPreview},
      {Json("check", R"j({"style":1})j"), Work::kPreview},
      {Json("store", "{"), Work::kAtOnce},
  };
  for (const auto& [request, work] : lanes) EXPECT_EQ(WorkOf(request, site).work, work);

  // The program's checks and words, in the program's order: sample text
  // left in, a date that does not exist, then the code; addresses are not
  // fetched by the site for strangers.
  EXPECT_EQ(
      said(Json("check", R"j({"style":3,"fields":{"Text1(17)":"2023","Text1(18)":"1",)j"
                         R"j("Text1(19)":"30","Text1(13)":"风格3"},"code":"1234","hint":"?"})j")),
      "200 "
      "{\"findings\":[{\"caption\":\"浏览器标题\",\"reason\":\"还是示例文字\",\"blocks\":false},"
      "{\"caption\":\"日期\",\"reason\":\"2023 年 2 月没有 30 日\",\"blocks\":false},"
      "{\"caption\":\"开启口令\",\"reason\":\"4 "
      "位以内的数字或日期很容易被猜中，换成只有你们两人知道的一个"
      "词会更安全，比如第一次约会的地方\",\"blocks\":false}]}\n");
  // Its own files it knows without asking anyone.
  const std::string missing = "http://pages.example:80/media/" + std::string(64, 'a') + ".mp4";
  EXPECT_EQ(said(Json("check", R"j({"style":1,"fields":{"Text1(7)":"http://10.0.0.1/x.jpg",)j"
                               R"j("Text1(8)":")j" +
                                   missing + R"j("},"code":"上海"})j")),
            "200 {\"findings\":[{\"caption\":\"下方视频地址\",\"reason\":\"服务器回答 404\","
            "\"blocks\":false},{\"caption\":\"开启口令\",\"reason\":\"设了口令就要写口令提示，"
            "TA才知道该填什么\",\"blocks\":true}]}\n");

  // A QR code comes back as its rows of modules, with the finder pattern a
  // camera looks for in its corner.
  const StringResponse qr =
      answer(Json("qr", R"j({"text":"http://pages.example:80/Test/alice"})j"));
  ASSERT_EQ(qr.result_int(), 200) << qr.body();
  const std::string rows = qr.body();
  const std::size_t first = rows.find("\"rows\":[\"") + 9;
  EXPECT_EQ(rows.substr(0, 12), "{\"size\":29,\"") << rows;  // version 3 at level M
  EXPECT_EQ(rows.substr(first, 8), "11111110") << rows;
  EXPECT_EQ(std::count(rows.begin(), rows.end(), ','), 28 + 1) << rows;

  // After sending: her pages, what came back, taking down, giving up, each
  // the program's own operation under her key, and another key's refused.
  const auto of = [&](std::string_view name) {
    return R"j({"key":")j" + key + R"j(","name":")j" + std::string(name) + "\"}";
  };
  Request answered = Make(http::verb::post, "/api/answer/alice", "answer=1");
  answered.set(http::field::content_type, "text/plain");
  answered.set(http::field::origin, "null");
  EXPECT_EQ(answer(answered).result_int(), 204);
  const std::string receipt = said(Json("receipts", of("ALICE")));
  EXPECT_TRUE(receipt.starts_with(
      R"j(200 {"question":"嫁给我？","choices":["我愿意","让我想想"],"opened":0,)j"))
      << receipt;
  EXPECT_NE(receipt.find(R"j("answers":[{"choice":1,"text":"我愿意","time":"20)j"),
            std::string::npos)
      << receipt;
  EXPECT_NE(receipt.find(R"j("earlier":[],"opens":"","has_code":false,"hint":""})j"),
            std::string::npos)
      << receipt;
  const std::string mine = said(Json("mine", R"j({"key":")j" + key + "\"}"));
  EXPECT_TRUE(mine.starts_with(
      R"j(200 {"pages":[{"name":"alice","address":"http://pages.example:80/Test/alice","claimed":"20)j"))
      << mine;
  EXPECT_EQ(mine.find(R"j("stored":"")j"), std::string::npos) << mine;
  // A browser that lost its draft gets her fields back out of the page.
  const std::string kept = said(Json("fields", of("alice")));
  EXPECT_TRUE(kept.starts_with(R"j(200 {"style":1,"fields":{)j")) << kept;
  EXPECT_NE(kept.find(R"j("Text1(1)":"小雨")j"), std::string::npos) << kept;
  EXPECT_NE(kept.find(R"j("Question":"嫁给我？","Answer1":"我愿意")j"), std::string::npos) << kept;
  EXPECT_TRUE(kept.ends_with(R"j(},"opens":"","has_code":false,"hint":""})j"
                             "\n"))
      << kept;
  std::string stranger = of("alice");
  stranger.replace(stranger.find(key), 1, "f");
  const std::pair<Request, std::string> after_sending[] = {
      {Json("receipts", stranger), "403 {\"error\":\"file name claimed by another machine\"}\n"},
      {Json("fields", stranger), "403 {\"error\":\"file name claimed by another machine\"}\n"},
      {Json("takedown", stranger), "403 {\"error\":\"file name claimed by another machine\"}\n"},
      {Json("release", stranger), "403 {\"error\":\"file name claimed by another machine\"}\n"},
      {Json("receipts", R"j({"key":")j" + key + "\"}"),
       "400 {\"error\":\"missing member name\"}\n"},
      {Json("takedown", R"j({"key":"0011","name":"alice"})j"),
       "400 {\"error\":\"key must be 32 hexadecimal digits\"}\n"},
      {Json("release", of("al'ice")), "400 {\"error\":\"malformed file name\"}\n"},
      {Json("release", R"j({"key":")j" + key + R"j(","name":"alice","ID":"x"})j"),
       "400 {\"error\":\"unexpected member ID\"}\n"},
      {Json("mine", R"j({"key":")j" + key + R"j(","name":"alice"})j"),
       "400 {\"error\":\"unexpected member name\"}\n"},
      {Json("receipts", of("nobody")), "404 {\"error\":\"file name not claimed\"}\n"},
  };
  for (const auto& [request, expected] : after_sending) EXPECT_EQ(said(request), expected);
  EXPECT_TRUE(storage.LoadPage("alice"));
  for (const auto& [request, work] :
       {std::pair{Json("mine", R"j({"key":")j" + key + "\"}"), Work::kLookup},
        std::pair{Json("receipts", of("alice")), Work::kLookup},
        std::pair{Json("takedown", of("alice")), Work::kStore},
        std::pair{Json("release", of("alice")), Work::kClaim}})
    EXPECT_EQ(WorkOf(request, site).work, work) << request.target();
  Audit taken;
  EXPECT_EQ(answer(Json("takedown", of("alice")), &taken).body(), "{\"taken_down\":true}\n");
  EXPECT_EQ(taken.operation, "take down");
  EXPECT_FALSE(storage.LoadPage("alice"));
  EXPECT_NE(said(Json("mine", R"j({"key":")j" + key + "\"}")).find(R"j("stored":""}]})j"),
            std::string::npos);
  // What came back stays with the name taken down, and goes with it given up.
  EXPECT_NE(said(Json("receipts", of("alice"))).find("我愿意"), std::string::npos);
  EXPECT_EQ(said(Json("fields", of("alice"))), "410 {\"error\":\"no page online\"}\n");
  EXPECT_EQ(said(Json("release", of("alice"))), "200 {\"released\":true}\n");
  EXPECT_EQ(said(Json("mine", R"j({"key":")j" + key + "\"}")), "200 {\"pages\":[]}\n");
  EXPECT_EQ(said(Json("name", R"j({"name":"alice"})j")), "200 {\"taken\":false}\n");

  // The preview comes posted from a form into the maker's frame, and is the
  // page under the pages' own policy, framed by the site alone.
  Request preview = Json("preview", {});
  preview.set(http::field::content_type, "application/x-www-form-urlencoded");
  preview.body() =
      "json=" + std::string(R"j(%7B%22style%22%3A2%2C%22fields%22%3A%7B%22Text1(0)%22%3A%22)j") +
      "%E9%98%BF%E6%98%8E%22%7D%7D";
  preview.prepare_payload();
  const StringResponse shown = answer(preview);
  EXPECT_EQ(shown.result_int(), 200);
  EXPECT_NE(FromGbk(shown.body()).find("阿明"), std::string::npos);
  const std::string policy(shown["Content-Security-Policy"]);
  EXPECT_TRUE(policy.starts_with("sandbox allow-scripts ")) << policy;
  EXPECT_TRUE(policy.ends_with("frame-ancestors 'self'")) << policy;
}

TEST(RoutingTest, StylesAreServedFromTheFieldTableInTheEditorsOrder) {
  const std::string styles = StylesJson("pages.example:80");
  // Style 5 is read as its window's Tab order reads it: the seven lines,
  // then the other settings, before the name of the one it is for.
  const std::size_t seventh = styles.find("\"Text11(6)\"");
  const std::size_t video = styles.find("\"Text11(13)\"");
  const std::size_t name = styles.find("\"Text11(7)\"");
  EXPECT_LT(seventh, video);
  EXPECT_LT(video, name);
  EXPECT_NE(styles.find(
                R"j("default":"http://pages.example:80/biaobai/fg1/center.jpg","kind":"picture")j"),
            std::string::npos);
  EXPECT_NE(styles.find(R"j("name":"Answer1","caption":"TA的回答一","default":"我愿意","max":10)j"),
            std::string::npos);
  EXPECT_NE(styles.find("\"shared_max\":2"), std::string::npos);
  EXPECT_EQ(std::get<JsonObject>(ReadJsonObject(R"j({"a":"b"})j")).size(), 1u);
}

}  // namespace
}  // namespace heartpage::server
