// What comes back from a published page that asks its question: openings and
// answers as the page's script sends them, read by the page's owner through
// the endpoint; the real server, its requests written out by hand.

#include <gtest/gtest.h>

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
  // beyond it, and no more.
  int together = 0;
  for (int i = 0; i < 50; ++i)
    together +=
        Visit(port, "/api/answer/busy", "answer=1", "null", "127.0.0." + std::to_string(10 + i))
            .status == 204;
  EXPECT_EQ(together + answered + 1, 40);
  EXPECT_EQ(Receipts(port, "m", "busy").receipt->answers.size(), 20u);
}

}  // namespace
}  // namespace heartpage::server
