// What comes back from a published page that asks its question: openings and
// answers as the page's script sends them, read by the page's owner through
// the endpoint; the real server, its requests written out by hand.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

#include "protocol/receipts.h"
#include "tests/server/built_page.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using namespace testing;

// A post as a sandboxed page's script sends it: its origin is opaque.
HttpResponse Visit(int port, std::string_view path, std::string_view body = "",
                   std::string_view origin = "null", const std::string& source = "127.0.0.1") {
  return Exchange(port,
                  "POST " + std::string(path) +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain;charset=UTF-8\r\n" +
                      (origin.empty() ? "" : "Origin: " + std::string(origin) + "\r\n") +
                      "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                      std::string(body),
                  false, source);
}

struct Read {
  int status = 0;
  std::optional<wire::Receipt> receipt;
};

Read Receipts(int port, std::string_view machine, std::string_view name) {
  const HttpResponse answer =
      Post(port, "zc=56&File=" + EncodeValue(name) + "&ID=" + EncodeValue(machine));
  return {answer.status, wire::ReceiptIn(FromGbk(answer.body))};
}

std::vector<std::string> AnswerTexts(const wire::Receipt& receipt) {
  std::vector<std::string> texts;
  for (const wire::ReceiptAnswer& answer : receipt.answers) texts.push_back(answer.text);
  return texts;
}

class ReceiptsTest : public ::testing::Test {
 protected:
  // The page `name` of `machine`, asking `question`, published on `server`.
  static void Publish(ServerProcess& server, std::string_view machine, std::string_view name,
                      const std::string& question, const std::string& words = "第一行") {
    Post(server.port(), ClaimBody(machine, name));
    ASSERT_EQ(
        Post(server.port(), StoreBody(machine, name, AskingPage(server.host(), words, question)))
            .status,
        200);
  }
  ScratchDir data_;
};

// From the page's first fetch to its owner's reading, across a restart: a
// fetch without script counts nothing; an opening and two answers count,
// the last answer last; nobody else reads them, and no other site's page
// sends any.
TEST_F(ReceiptsTest, TheOwnerReadsOpeningsAndAnswersWhichOutlastARestart) {
  {
    ServerProcess server(data_.path());
    const int port = server.port();
    Publish(server, "machine-1", "Ask1", "做我女朋友好吗？");
    const HttpResponse page = Get(port, "/Test/ask1");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(Exchange(port, GetRequest("/Test/ask1", "", "HEAD"), true).status, 200);
    Read before = Receipts(port, "machine-1", "ask1");
    ASSERT_EQ(before.status, 200);
    ASSERT_TRUE(before.receipt);
    EXPECT_EQ(before.receipt->question, "做我女朋友好吗？");
    EXPECT_EQ(before.receipt->opened, 0);

    const HttpResponse opened = Visit(port, "/api/opened/Ask1");
    EXPECT_EQ(opened.status, 204);
    EXPECT_EQ(opened.Header("access-control-allow-origin"), "null");
    EXPECT_EQ(Visit(port, "/api/answer/ask1", "answer=1", "").status, 204);
    EXPECT_EQ(Visit(port, "/api/answer/ask1", "answer=2").status, 204);

    // Another site's page, a body that is no answer, a name nobody has.
    EXPECT_EQ(Visit(port, "/api/answer/ask1", "answer=1", "https://evil.example").status, 403);
    EXPECT_EQ(Visit(port, "/api/answer/ask1", "answer=3").status, 400);
    EXPECT_EQ(Visit(port, "/api/answer/ask1", std::string(65, '1')).status, 413);
    EXPECT_EQ(Visit(port, "/api/opened/nobody").status, 404);

    EXPECT_EQ(Receipts(port, "machine-2", "ask1").status, 403);
    EXPECT_EQ(Receipts(port, "machine-1", "nobody").status, 404);
  }
  ServerProcess again(data_.path());
  const Read read = Receipts(again.port(), "machine-1", "ask1");
  ASSERT_EQ(read.status, 200);
  ASSERT_TRUE(read.receipt);
  EXPECT_EQ(read.receipt->opened, 1);
  EXPECT_EQ(read.receipt->first_opened.size(), 19u) << read.receipt->first_opened;
  EXPECT_EQ(read.receipt->last_opened, read.receipt->first_opened);
  EXPECT_EQ(AnswerTexts(*read.receipt), (std::vector<std::string>{"我愿意", "让我想想"}));
  EXPECT_EQ(read.receipt->answers.back().choice, 2);
  EXPECT_EQ(read.receipt->answers.back().time.size(), 19u);
}

// Republishing the same question keeps what came back, another question
// starts afresh; a page taken down takes nothing, and a released name leaves
// nothing to whoever claims it next.
TEST_F(ReceiptsTest, WhatCameBackFollowsTheQuestionAndTheName) {
  ServerProcess server(data_.path());
  const int port = server.port();
  Publish(server, "m", "q", "周末一起看电影吗？");
  ASSERT_EQ(Visit(port, "/api/answer/q", "answer=1").status, 204);
  Publish(server, "m", "q", "周末一起看电影吗？", "换了一行字");
  ASSERT_EQ(Visit(port, "/api/answer/q", "answer=2").status, 204);
  EXPECT_EQ(AnswerTexts(*Receipts(port, "m", "q").receipt),
            (std::vector<std::string>{"我愿意", "让我想想"}));

  // Another question: what came back before is the earlier version's, kept
  // for its owner, and a few of them at most.
  Publish(server, "m", "q", "那吃火锅呢？");
  const Read fresh = Receipts(port, "m", "q");
  EXPECT_EQ(fresh.receipt->question, "那吃火锅呢？");
  EXPECT_TRUE(fresh.receipt->answers.empty());
  ASSERT_EQ(fresh.receipt->earlier.size(), 1u);
  EXPECT_EQ(fresh.receipt->earlier[0].question, "周末一起看电影吗？");
  EXPECT_EQ(AnswerTexts(fresh.receipt->earlier[0]),
            (std::vector<std::string>{"我愿意", "让我想想"}));
  EXPECT_EQ(fresh.receipt->earlier[0].replaced.size(), 19u);
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(
        Visit(port, "/api/answer/q", "answer=1", "null", "127.0.1." + std::to_string(i)).status,
        204);
    Publish(server, "m", "q", "第" + std::to_string(i) + "个问题？");
  }
  const Read many = Receipts(port, "m", "q");
  ASSERT_EQ(many.receipt->earlier.size(), 5u);
  EXPECT_EQ(many.receipt->earlier[0].question, "第5个问题？") << "newest first";
  EXPECT_EQ(many.receipt->earlier[0].answers.size(), 1u);

  ASSERT_EQ(Post(port, "zc=54&File=" + EncodeValue("q") + "&ID=" + EncodeValue("m")).status, 200);
  EXPECT_EQ(Visit(port, "/api/answer/q", "answer=1").status, 410);
  Publish(server, "m", "none", "");
  EXPECT_EQ(Visit(port, "/api/opened/none").status, 409);

  Publish(server, "m", "gone", "还记得我吗？");
  ASSERT_EQ(Visit(port, "/api/answer/gone", "answer=1").status, 204);
  ASSERT_EQ(Post(port, "zc=55&File=" + EncodeValue("gone") + "&ID=" + EncodeValue("m")).status,
            200);
  Publish(server, "m", "gone", "换个问题？");
  ASSERT_EQ(Post(port, "zc=55&File=" + EncodeValue("gone") + "&ID=" + EncodeValue("m")).status,
            200);
  Publish(server, "other", "gone", "还记得我吗？");
  const Read theirs = Receipts(port, "other", "gone");
  EXPECT_TRUE(theirs.receipt->answers.empty());
  EXPECT_TRUE(theirs.receipt->earlier.empty());
}

// One address, or many at one page, cannot run the counts up without bound,
// and none takes the page's whole minute: its real reader, from another
// address, is still counted. A refusal tells the page when to try again, in
// words its script can read.
TEST_F(ReceiptsTest, FloodsAreBoundedByAddressAndByPage) {
  ServerProcess server(data_.path());
  const int port = server.port();
  Publish(server, "m", "busy", "今晚有空吗？");
  const auto flood = [&](std::string_view path, std::string_view body, const std::string& from) {
    int counted = 0;
    HttpResponse refused;
    for (int i = 0; i < 30 && refused.status == 0; ++i) {
      HttpResponse sent = Visit(port, path, body, "null", from);
      if (sent.status == 204)
        ++counted;
      else
        refused = std::move(sent);
    }
    EXPECT_EQ(refused.status, 429) << path;
    EXPECT_FALSE(refused.Header("retry-after").empty());
    EXPECT_EQ(refused.Header("access-control-allow-origin"), "null");
    return counted;
  };
  const int opened = flood("/api/opened/busy", "", "127.0.0.1");
  EXPECT_GT(opened, 0);
  EXPECT_LT(opened, 20) << "the page's share, before the address's own limit";
  EXPECT_EQ(Visit(port, "/api/opened/busy", "", "null", "127.0.0.2").status, 204);
  const int answered = flood("/api/answer/busy", "answer=2", "127.0.0.3");
  EXPECT_GT(answered, 0);
  EXPECT_LT(answered, 20);
  EXPECT_EQ(Visit(port, "/api/answer/busy", "answer=1", "null", "127.0.0.4").status, 204);
  const Read read = Receipts(port, "m", "busy");
  EXPECT_EQ(read.receipt->opened, opened + 1);
  EXPECT_EQ(read.receipt->answers.back().text, "我愿意") << "the real reader's answer counts";

  // Many addresses together: the page's minute, and room for newcomers
  // beyond it, and no more; counted, they never push out what the page's
  // first readers said.
  int together = 0;
  for (int i = 0; i < 50; ++i)
    together +=
        Visit(port, "/api/answer/busy", "answer=2", "null", "127.0.0." + std::to_string(10 + i))
            .status == 204;
  EXPECT_EQ(together + answered + 1, 40);
  const std::vector<std::string> kept = AnswerTexts(*Receipts(port, "m", "busy").receipt);
  ASSERT_EQ(kept.size(), 20u);
  EXPECT_EQ(kept[3], "我愿意");
}

// A page's settings as the program sends them with its store.
std::string WithSettings(std::string body, std::string_view opens, std::string_view code = "",
                         std::string_view hint = "") {
  if (!opens.empty()) body += "&opens=" + EncodeValue(opens);
  if (!code.empty()) body += "&code=" + EncodeValue(code);
  if (!hint.empty()) body += "&hint=" + EncodeValue(hint);
  return body;
}

// A code as the page that asks for it posts it, from `source`.
HttpResponse Unlock(int port, std::string_view name, std::string_view code,
                    const std::string& source = "127.0.0.1",
                    std::string_view origin = "http://127.0.0.1") {
  const std::string body = "code=" + std::string(code);
  return Exchange(port,
                  "POST /api/unlock/" + std::string(name) +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                      "Content-Type: application/x-www-form-urlencoded\r\n"
                      "Sec-Fetch-Site: same-origin\r\nOrigin: " +
                      std::string(origin) + "\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\n\r\n" + body,
                  false, source);
}

// Before its moment a page is the site's own small page: it says when, in
// China's time and with the year when not this one, never caches, carries
// the site's card and no byte of the sender's; what claims to come from the
// page counts for nothing. Once the moment has passed, the page itself. A
// store without settings, as an older client sends, opens at once again;
// settings that are no settings change nothing.
TEST_F(ReceiptsTest, APageHeldUntilItsMomentSaysWhenAndNothingMore) {
  ServerProcess server(data_.path());
  const int port = server.port();
  const std::string page = AskingPage(server.host(), "只给你看的第一行", "做我女朋友好吗？");
  const std::string served = ToGbk(page);
  Post(port, ClaimBody("m", "later"));
  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "later", page), "2030-02-14 12:00:00")).status,
            200);

  // Whatever form a reader takes, the waiting page wears the page's style,
  // and a chat's card of the link shows the site's artwork for it.
  for (const auto& [target, accepts] : {std::pair{"/Test/later", ""},
                                        {"/Test/LATER", ""},
                                        {"/Test/later", "Accept-Encoding: gzip\r\n"}}) {
    const HttpResponse held = Get(port, target, accepts);
    ASSERT_EQ(held.status, 200);
    EXPECT_EQ(held.Header("cache-control"), "no-store");
    EXPECT_NE(held.Header("content-security-policy").find("script-src 'sha256-"),
              std::string::npos);
    EXPECT_NE(held.body.find("有一份心意将于 <time datetime=\"2030-02-14 12:00:00Z\">"
                             "2030年2月14日 20:00</time> 为你开启"),
              std::string::npos)
        << held.body;
    EXPECT_NE(held.body.find("北京时间"), std::string::npos);
    EXPECT_NE(held.body.find("<meta property=\"og:title\" content=\"有一份心意在等你\">"),
              std::string::npos);
    EXPECT_NE(held.body.find("<meta property=\"og:image\" content=\"http://" + server.host() +
                             "/biaobai/cards/style1.jpg\">"),
              std::string::npos);
    EXPECT_NE(held.body.find("<body class=\"s1\">"), std::string::npos) << target << accepts;
    for (const std::string_view sent : {"只给你看的第一行", "做我女朋友好吗", "我愿意"})
      EXPECT_EQ(held.body.find(sent), std::string::npos) << sent;
  }
  EXPECT_EQ(
      Exchange(port, GetRequest("/Test/later", "If-None-Match: \"x\"\r\n", "HEAD"), true).status,
      200);
  EXPECT_EQ(Visit(port, "/api/opened/later").status, 409);
  const Read settings = Receipts(port, "m", "later");
  ASSERT_TRUE(settings.receipt);
  EXPECT_EQ(settings.receipt->opens, "2030-02-14 12:00:00");
  EXPECT_FALSE(settings.receipt->has_code);
  EXPECT_EQ(settings.receipt->opened, 0);

  // Settings that are none: nothing changes.
  for (const std::string& bad :
       {WithSettings(StoreBody("m", "later", page), "2030-02-30 12:00:00"),
        WithSettings(StoreBody("m", "later", page), "2030-02-14 20:00"),
        WithSettings(StoreBody("m", "later", page), "", "上海"),
        WithSettings(StoreBody("m", "later", page), "", "", "城市"),
        WithSettings(StoreBody("m", "later", page), "", " \xE3\x80\x80 ", "城市"),
        StoreBody("m", "later", page) + "&opens=" + EncodeValue("2031-01-01 00:00:00") +
            "&color=" + EncodeValue("red")}) {
    const HttpResponse refused = Post(port, bad);
    EXPECT_EQ(refused.status, 400) << bad;
    EXPECT_EQ(refused.body.find('\n'), refused.body.size() - 1);
  }
  EXPECT_EQ(Post(port, WithSettings(StoreBody("m", "later", page), "", "上海")).body,
            "a code without a hint\n");
  EXPECT_NE(Get(port, "/Test/later").body.find("2030年2月14日"), std::string::npos);

  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "later", page), "2020-05-20 05:20:00")).status,
            200);
  const HttpResponse open = Get(port, "/Test/later");
  EXPECT_EQ(open.body, served);
  EXPECT_EQ(Visit(port, "/api/opened/later").status, 204);
  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "later", page), "2030-02-14 12:00:00")).status,
            200);
  ASSERT_NE(Get(port, "/Test/later").body, served) << "held back again, though it was in memory";
  ASSERT_EQ(Post(port, StoreBody("m", "later", page)).status, 200);
  EXPECT_EQ(Get(port, "/Test/later").body, served);
  const Read none = Receipts(port, "m", "later");
  EXPECT_TRUE(none.receipt->opens.empty());
  EXPECT_EQ(none.receipt->opened, 1) << "counted when the page itself was shown";
}

// A page behind a code asks for it with its hint. Wrong codes are refused
// and, past a few from one address, slowed; the right code from another
// lets that reader in with a cookie for this page alone, which a republish
// with a new code no longer opens. Past the page's budget over all
// addresses, tries go at the page's pace, each address told when its turn
// comes. The
// code is never sent back nor logged; the moment comes before the code.
TEST_F(ReceiptsTest, ACodePageLetsInOnlyItsReaderAndSlowsGuessers) {
  ServerProcess server(data_.path());
  const int port = server.port();
  const std::string page = BuiltPage(server.host(), "只有你知道的话");
  const std::string served = ToGbk(page);
  Post(port, ClaimBody("m", "lock"));
  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "lock", page), "", "Shanghai",
                                    "我们第一次见面的<城市>？"))
                .status,
            200);
  const HttpResponse asking = Get(port, "/Test/lock");
  ASSERT_EQ(asking.status, 200);
  EXPECT_EQ(asking.Header("cache-control"), "no-store");
  EXPECT_NE(asking.body.find("提示：我们第一次见面的&lt;城市&gt;？"), std::string::npos);
  EXPECT_NE(asking.body.find("action=\"/api/unlock/lock\""), std::string::npos);
  EXPECT_EQ(asking.body.find("只有你知道的话"), std::string::npos);

  // Not from another site's page, nor from a published page's sandbox.
  EXPECT_EQ(Unlock(port, "lock", "Shanghai", "127.0.0.9", "https://evil.example").status, 403);
  EXPECT_EQ(Unlock(port, "lock", "Shanghai", "127.0.0.9", "null").status, 403);
  EXPECT_EQ(Unlock(port, "lock", "", "127.0.0.9").status, 400);
  EXPECT_EQ(Unlock(port, "nobody", "x", "127.0.0.9").status, 404);

  for (int i = 0; i < 5; ++i) {
    const HttpResponse wrong = Unlock(port, "lock", "Beijing", "127.0.0.2");
    ASSERT_EQ(wrong.status, 403);
    EXPECT_EQ(wrong.body, "wrong code\n");
    EXPECT_TRUE(wrong.Header("set-cookie").empty());
  }
  const HttpResponse slowed = Unlock(port, "lock", "Shanghai", "127.0.0.2");
  EXPECT_EQ(slowed.status, 429) << "even the right code, past the address's tries";
  EXPECT_GT(std::stoi(slowed.Header("retry-after")), 500);
  const HttpResponse right = Unlock(port, "lock", "%20shanghai", "127.0.1.2");
  ASSERT_EQ(right.status, 204);
  const std::string cookie = right.Header("set-cookie");
  for (const std::string_view part :
       {"hp_unlock=", "; Path=/Test/lock", "; Max-Age=2592000", "; HttpOnly", "; SameSite=Lax"})
    EXPECT_NE(cookie.find(part), std::string::npos) << cookie;
  EXPECT_EQ(cookie.find("Secure"), std::string::npos) << "the site is plain HTTP here";
  const std::string pair = cookie.substr(0, cookie.find(';'));
  const HttpResponse shown = Get(port, "/Test/lock", "Cookie: a=b; " + pair + "\r\n");
  EXPECT_EQ(shown.body, served);
  EXPECT_EQ(shown.Header("cache-control"), "private, no-cache");
  std::string forged = pair;
  forged.back() = forged.back() == '0' ? '1' : '0';
  EXPECT_NE(Get(port, "/Test/lock", "Cookie: " + forged + "\r\n").body, served);
  EXPECT_NE(Get(port, "/Test/lock").body, served);

  const Read settings = Receipts(port, "m", "lock");
  EXPECT_TRUE(settings.receipt->has_code);
  EXPECT_EQ(settings.receipt->hint, "我们第一次见面的<城市>？");
  EXPECT_EQ(Post(port, "zc=56&File=" + EncodeValue("lock") + "&ID=" + EncodeValue("m"))
                .body.find("hanghai"),
            std::string::npos);

  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "lock", page), "", "Hangzhou", "城市")).status,
            200);
  EXPECT_NE(Get(port, "/Test/lock", "Cookie: " + pair + "\r\n").body, served) << "asks again";
  EXPECT_EQ(Unlock(port, "lock", "hangzhou", "127.0.1.3").status, 204);

  // The page's budget, spent by more addresses; then every try waits for
  // its turn of the page's pace, the first at once, each next one twice as
  // far, and a turn once given is kept for its address.
  for (int spent = 7; spent < 30; ++spent)
    ASSERT_EQ(Unlock(port, "lock", "Suzhou", "127.0.0." + std::to_string(3 + spent / 5)).status,
              403);
  EXPECT_EQ(Unlock(port, "lock", "Suzhou", "127.0.1.1").status, 403);
  const HttpResponse waits = Unlock(port, "lock", "Suzhou", "127.0.1.5");
  EXPECT_EQ(waits.status, 429);
  EXPECT_EQ(waits.body, "wait for your turn at this code\n");
  const int turn = std::stoi(waits.Header("retry-after"));
  EXPECT_GE(turn, 28);
  EXPECT_LE(turn, 30);
  const int after = std::stoi(Unlock(port, "lock", "hangzhou", "127.0.1.6").Header("retry-after"));
  EXPECT_GE(after, 88);
  EXPECT_LE(after, 90);
  EXPECT_LE(std::stoi(Unlock(port, "lock", "Suzhou", "127.0.1.5").Header("retry-after")), turn);

  // The moment first, then the code.
  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "lock", page), "2030-02-14 12:00:00", "Hangzhou",
                                    "城市"))
                .status,
            200);
  EXPECT_NE(Get(port, "/Test/lock").body.find("为你开启"), std::string::npos);
  EXPECT_EQ(Unlock(port, "lock", "Hangzhou", "127.0.1.4").status, 409);

  const std::string log = server.Log();
  EXPECT_NE(log.find("unlock lock \"wrong code\""), std::string::npos) << log;
  for (const std::string_view code : {"hanghai", "angzhou", "Beijing", "Suzhou"})
    EXPECT_EQ(log.find(code), std::string::npos) << code;
}

// Hashing a code is CPU of its own, apart from the storage lanes: a store
// sent while tries from several addresses are being hashed is answered
// before they all are, and one address's burst of tries keeps to its share
// of the hashing, the rest refused before any hash is made.
TEST_F(ReceiptsTest, TriesAtCodesNeverHoldUpAStoreAndKeepToTheirShare) {
  ServerProcess server(data_.path());
  const int port = server.port();
  const std::string page = BuiltPage(server.host(), "只有你知道的话");
  Post(port, ClaimBody("m", "gate"));
  ASSERT_EQ(Post(port, WithSettings(StoreBody("m", "gate", page), "", "520", "数字")).status, 200);
  Post(port, ClaimBody("s", "plain"));

  std::atomic<int> answered{0};
  std::promise<void> first;
  std::vector<std::future<std::pair<int, int>>> tries;
  for (int i = 0; i < 8; ++i)
    tries.push_back(std::async(std::launch::async, [&, i] {
      const int status =
          Unlock(port, "gate", "1314", "127.0.0." + std::to_string(2 + i % 4)).status;
      const int order = answered++;
      if (order == 0) first.set_value();
      return std::pair{status, order};
    }));
  first.get_future().wait();
  ASSERT_EQ(Post(port, StoreBody("s", "plain", page)).status, 200);
  const int stored = answered++;
  int last = 0;
  for (auto& answer : tries) {
    const auto [status, order] = answer.get();
    EXPECT_EQ(status, 403);
    last = std::max(last, order);
  }
  EXPECT_LT(stored, last) << "the store waited for every hash";

  std::vector<std::future<HttpResponse>> burst;
  for (int i = 0; i < 6; ++i)
    burst.push_back(
        std::async(std::launch::async, [&] { return Unlock(port, "gate", "1314", "127.0.0.20"); }));
  int hashed = 0, refused = 0;
  for (auto& answer : burst) {
    const HttpResponse response = answer.get();
    if (response.status == 403) {
      ++hashed;
    } else {
      EXPECT_EQ(response.status, 429);
      EXPECT_EQ(response.body, "too many codes being tried from this address\n");
      EXPECT_FALSE(response.Header("retry-after").empty());
      ++refused;
    }
  }
  EXPECT_GE(hashed, 1);
  EXPECT_GE(refused, 1);
  EXPECT_LE(hashed, 5) << "beyond its share, or its tries at the page";
  EXPECT_EQ(Unlock(port, "gate", "520", "127.0.0.21").status, 204) << "another address is let in";
}

}  // namespace
}  // namespace heartpage::server
