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

  Publish(server, "m", "q", "那吃火锅呢？");
  const Read fresh = Receipts(port, "m", "q");
  EXPECT_EQ(fresh.receipt->question, "那吃火锅呢？");
  EXPECT_TRUE(fresh.receipt->answers.empty());

  ASSERT_EQ(Post(port, "zc=54&File=" + EncodeValue("q") + "&ID=" + EncodeValue("m")).status, 200);
  EXPECT_EQ(Visit(port, "/api/answer/q", "answer=1").status, 410);
  Publish(server, "m", "none", "");
  EXPECT_EQ(Visit(port, "/api/opened/none").status, 409);

  Publish(server, "m", "gone", "还记得我吗？");
  ASSERT_EQ(Visit(port, "/api/answer/gone", "answer=1").status, 204);
  ASSERT_EQ(Post(port, "zc=55&File=" + EncodeValue("gone") + "&ID=" + EncodeValue("m")).status,
            200);
  Publish(server, "other", "gone", "还记得我吗？");
  EXPECT_TRUE(Receipts(port, "other", "gone").receipt->answers.empty());
}

// One address, or many at one page, cannot run the counts up without bound;
// a refusal tells the page when to try again, in words its script can read.
TEST_F(ReceiptsTest, FloodsAreBoundedByAddressAndByPage) {
  ServerProcess server(data_.path());
  const int port = server.port();
  Publish(server, "m", "busy", "今晚有空吗？");
  int counted = 0;
  HttpResponse refused;
  for (int i = 0; i < 30 && refused.status == 0; ++i) {
    HttpResponse opened = Visit(port, "/api/opened/busy");
    if (opened.status == 204)
      ++counted;
    else
      refused = std::move(opened);
  }
  EXPECT_EQ(counted, 20);
  EXPECT_EQ(refused.status, 429);
  EXPECT_FALSE(refused.Header("retry-after").empty());
  EXPECT_EQ(refused.Header("access-control-allow-origin"), "null");

  int answered = 0;
  for (int i = 0; i < 30; ++i)
    answered +=
        Visit(port, "/api/answer/busy", "answer=1", "null", "127.0.0." + std::to_string(10 + i))
            .status == 204;
  EXPECT_EQ(answered, 20);
  EXPECT_EQ(Receipts(port, "m", "busy").receipt->answers.size(), 20u);
}

}  // namespace
}  // namespace heartpage::server
