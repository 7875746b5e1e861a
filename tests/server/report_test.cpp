// Reports from anyone and the operator's deny list: the real server, and
// the operator's real commands beside it.

#include <gtest/gtest.h>

#include "pages/builders.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"
#include "text/markup.h"

namespace heartpage::server {
namespace {

using namespace testing;

// `heartpage-server admin --data DATA ARGS…`, which must succeed: its output.
std::string Admin(const std::filesystem::path& data, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {HEARTPAGE_SERVER_BINARY, "admin", "--data", data.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  const heartpage::testing::RunResult run = heartpage::testing::RunProgram(argv);
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// A form post to /report as a browser on the site's own form sends it.
HttpResponse SendReport(int port, std::string_view body,
                        std::string_view extra =
                            "Origin: http://127.0.0.1\r\n"
                            "Sec-Fetch-Site: same-origin\r\n",
                        std::string_view type = "application/x-www-form-urlencoded") {
  return Exchange(
      port, "POST /report HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: " + std::string(type) +
                "\r\n" + std::string(extra) + "Content-Length: " + std::to_string(body.size()) +
                "\r\n\r\n" + std::string(body));
}

class ReportTest : public ::testing::Test {
 protected:
  ScratchDir data_;
};

// From the links anyone finds to the operator's list: the form, a report in
// Chinese with line breaks, the thank-you page; security.txt names the
// operator's address and the form.
TEST_F(ReportTest, AReportSentThroughTheFormIsListedForTheOperator) {
  ServerProcess server(data_.path(), {"--abuse-contact", "mailto:abuse@example.org"});
  const int port = server.port();
  EXPECT_NE(Get(port, "/").body.find("href=\"/report\""), std::string::npos);

  const HttpResponse form = Get(port, "/report?page=http%3A%2F%2F127.0.0.1%2FTest%2Fabc1");
  ASSERT_EQ(form.status, 200);
  EXPECT_NE(form.body.find("<form method=\"post\" action=\"/report\">"), std::string::npos);
  EXPECT_NE(form.body.find("value=\"http://127.0.0.1/Test/abc1\""), std::string::npos);
  EXPECT_NE(form.body.find("mailto:abuse@example.org"), std::string::npos);
  EXPECT_NE(form.Header("content-security-policy").find("form-action 'self'"), std::string::npos);

  // 冒充 客服\r\n"骗" <密码> & more
  const HttpResponse sent = SendReport(
      port, "page=http%3A%2F%2F127.0.0.1%3A" + std::to_string(port) +
                "%2FTest%2FAbc1&reason=%E5%86%92%E5%85%85+%E5%AE%A2%E6%9C%8D%0D%0A%22%E9%AA%97%22+"
                "%3C%E5%AF%86%E7%A0%81%3E+%26+more");
  ASSERT_EQ(sent.status, 200) << sent.body;
  EXPECT_NE(sent.body.find("谢谢您的举报"), std::string::npos);
  // A page's name alone does too.
  ASSERT_EQ(SendReport(port, "page=XYZ9&reason=spam").status, 200);

  const std::string listed = Admin(data_.path(), {"reports"});
  const std::size_t newer = listed.find("xyz9\n    spam\n");
  const std::size_t older = listed.find("abc1\n    冒充 客服\n    \"骗\" <密码> & more\n");
  ASSERT_NE(older, std::string::npos) << listed;
  EXPECT_LT(newer, older) << listed;
  const std::string one = Admin(data_.path(), {"reports", "--page", "ABC1"});
  EXPECT_EQ(one.find("xyz9"), std::string::npos) << one;
  EXPECT_NE(one.find("abc1"), std::string::npos) << one;
  // The reporter's address is kept nowhere.
  EXPECT_EQ(listed.find("127.0.0.1"), std::string::npos) << listed;

  const HttpResponse security = Get(port, "/.well-known/security.txt");
  ASSERT_EQ(security.status, 200);
  EXPECT_EQ(security.Header("content-type"), "text/plain; charset=utf-8");
  EXPECT_NE(security.body.find("Contact: mailto:abuse@example.org\n"), std::string::npos);
  EXPECT_NE(security.body.find("Contact: http://127.0.0.1:" + std::to_string(port) + "/report\n"),
            std::string::npos);
  EXPECT_NE(security.body.find("Expires: "), std::string::npos);
}

// What no browser on the site's own form sends is refused, one short line,
// and nothing is kept; a flood from one address is slowed down.
TEST_F(ReportTest, HostileReportsAreRefusedAndNoneIsKept) {
  ServerProcess server(data_.path());
  const int port = server.port();
  const std::string good = "page=abc1&reason=x";
  EXPECT_EQ(SendReport(port, good, "Origin: https://evil.example\r\n").status, 403);
  EXPECT_EQ(SendReport(port, good, "Sec-Fetch-Site: cross-site\r\n").status, 403);
  EXPECT_EQ(SendReport(port, good, "Origin: null\r\n").status, 403);
  EXPECT_EQ(SendReport(port, good, "", "text/plain").status, 415);
  EXPECT_EQ(SendReport(port, good, "", "multipart/form-data; boundary=x").status, 415);
  EXPECT_EQ(SendReport(port, "page=abc1&reason=" + std::string(2001, 'x')).status, 413);
  EXPECT_EQ(SendReport(port, "page=" + std::string(301, 'a') + "&reason=x").status, 413);
  EXPECT_EQ(SendReport(port, std::string(20000, 'x')).status, 413);
  for (const std::string body :
       {"page=abc1", "page=abc1&reason=x&reason=y", "page=abc1&reason=%E5%86", "page=abc1&r=1",
        "page=abc1&reason=%zz", "page=abc1&reason=%1B[2J", "garbage"})
    EXPECT_EQ(SendReport(port, body).status, 400) << body;
  // A human's mistakes get the form back, with what was typed.
  const HttpResponse elsewhere =
      SendReport(port, "page=https%3A%2F%2Fevil.example%2FTest%2Fabc1&reason=%E9%AA%97");
  EXPECT_EQ(elsewhere.status, 422);
  EXPECT_NE(elsewhere.body.find(">骗</textarea>"), std::string::npos);
  EXPECT_EQ(SendReport(port, "page=abc1&reason=+++").status, 422);
  EXPECT_EQ(Admin(data_.path(), {"reports"}), "no reports\n");

  // The default rate: five at once, then 429 with when to come back.
  for (int i = 0; i < 5; ++i) ASSERT_EQ(SendReport(port, good).status, 200) << i;
  const HttpResponse flooded = SendReport(port, good);
  EXPECT_EQ(flooded.status, 429);
  EXPECT_FALSE(flooded.Header("retry-after").empty());
  EXPECT_EQ(SendReport(port, good).status, 429);
}

// A page of style 2 bound to the server, with `title`, behind its floating
// picture `link`, and unless empty `letter` in its markup box, as the
// program builds it.
std::string Style2Page(int port, std::string_view title, std::string_view link,
                       std::string_view letter = {}) {
  FieldMap fields = FieldMap::Defaults(GetStyle(2));
  fields.values["Text1(0)"] = title;
  fields.values["Text1(7)"] = link;
  if (!letter.empty()) fields.values["Text1(2)"] = letter;
  fields.checked = true;  // the floating picture, and its link
  const HostAddress host = ParseHost("127.0.0.1:" + std::to_string(port));
  return BuildPage(2, fields, host);
}

// The operator's deny list reaches the running server: a word in any letters
// and a host or its subdomain refuse a store and a preview; removed, they
// pass.
TEST_F(ReportTest, TheDenyListRefusesPagesNamingADeniedHostOrWord) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("WD-1", "abc1")).status, 200);
  const std::string plain = Style2Page(port, "给你的信", "https://example.org/");
  ASSERT_EQ(Post(port, StoreBody("WD-1", "abc1", plain)).status, 200);

  Admin(data_.path(), {"deny", "add", "word", "FreeCoins", "--reason", "scam"});
  Admin(data_.path(), {"deny", "add", "host", "https://Phish.Example/"});
  EXPECT_EQ(Admin(data_.path(), {"deny", "list"}), "host phish.example\nword freecoins\n");

  const std::string worded = Style2Page(port, "领取 freeCOINS 了", "https://example.org/");
  const std::string linked = Style2Page(port, "给你的信", "http://login.phish.example:8080/x");
  for (const std::string& page : {worded, linked}) {
    const HttpResponse stored = Post(port, StoreBody("WD-1", "abc1", page));
    EXPECT_EQ(stored.status, 422);
    EXPECT_EQ(std::count(stored.body.begin(), stored.body.end(), '\n'), 1) << stored.body;
    EXPECT_EQ(Post(port, PreviewBody("WD-1", page)).status, 422);
  }
  EXPECT_EQ(FromGbk(Get(port, "/Test/abc1").body), plain);
  // The hint stands on the site's own page that asks for the code.
  for (const std::string hint : {"问 ｆｒｅｅ\u0441oins", "见 HTTPS://phish.example。"}) {
    const HttpResponse hinted =
        Post(port, StoreBody("WD-1", "abc1", plain) + "&code=" + EncodeValue("520") +
                       "&hint=" + EncodeValue(hint));
    EXPECT_EQ(hinted.status, 422) << hint;
    EXPECT_NE(hinted.body.find("the hint"), std::string::npos) << hinted.body;
    EXPECT_EQ(std::count(hinted.body.begin(), hinted.body.end(), '\n'), 1) << hinted.body;
  }
  EXPECT_EQ(FromGbk(Get(port, "/Test/abc1").body), plain);
  // A host that only ends in the same letters is another host.
  EXPECT_EQ(Post(port, StoreBody("WD-1", "abc1",
                                 Style2Page(port, "给你的信", "https://notphish.example/")))
                .status,
            200);

  Admin(data_.path(), {"deny", "remove", "word", "freecoins"});
  Admin(data_.path(), {"deny", "remove", "host", "phish.example"});
  EXPECT_EQ(Post(port, StoreBody("WD-1", "abc1", worded)).status, 200);
  EXPECT_EQ(Post(port, StoreBody("WD-1", "abc1", linked)).status, 200);
}

// Hosts are read as a browser reads them and words as a reader does: no
// spelling of a denied host or word gets a page past the list, written by
// hand as a hostile client would, while an ordinary page still passes.
TEST_F(ReportTest, NoSpellingOfADeniedHostOrWordPasses) {
  ServerProcess server(data_.path());
  const int port = server.port();
  ASSERT_EQ(Post(port, ClaimBody("WD-1", "abc1")).status, 200);
  Admin(data_.path(), {"deny", "add", "host", "evil.example"});
  Admin(data_.path(), {"deny", "add", "word", "phish"});
  Admin(data_.path(), {"deny", "add", "host", "10.1.2.3"});
  const std::string marker = "https://marker.invalid/";
  const std::string marked = Style2Page(port, "给你的信", marker);
  const auto linking = [&](std::string_view link) {
    std::string page = marked;
    return page.replace(page.find(marker), marker.size(), EscapeHtml(link));
  };
  const std::string pages[] = {
      linking("//evil.example/"),
      linking("/\\evil.example/"),
      linking("https:evil.example"),
      linking("http:\\\\evil.example\\"),
      linking("http:/\\evil.example/"),
      linking("http://evil%2Eexample/"),
      linking("http://evil.exampl%65/"),
      linking("http://evil.example%E3%80%82/"),
      linking("http://ｅｖｉｌ.example/"),
      linking("http://evil。example/"),
      linking("https://login.EVIL.example:443/x"),
      linking("http://[::ffff:10.1.2.3]/"),
      linking("http://[0:0:0:0:0:FFFF:A01:203]:80/"),
      linking("http://0x0a.1.515/"),
      Style2Page(port, "\u0440hish", ""),
      Style2Page(port, "给你的信", "", "Ph\u0456\u0455h"),
      Style2Page(port, "给你的信", "", "ph&shy;ish"),
      Style2Page(port, "给你的信", "", "ph&#8203;ish"),
      Style2Page(port, "ph\u200bish", ""),
      Style2Page(port, "ｐｈｉｓｈ", ""),
  };
  for (std::size_t i = 0; i < std::size(pages); ++i)
    EXPECT_EQ(Post(port, StoreBody("WD-1", "abc1", pages[i])).status, 422) << i;
  EXPECT_EQ(Post(port, StoreBody("WD-1", "abc1", linking("https://notevil.example/p"))).status,
            200);
}

}  // namespace
}  // namespace heartpage::server
