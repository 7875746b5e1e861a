#include "net/form_post.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/media_upload.h"
#include "tests/support/loopback_listener.h"
#include "text/gbk.h"

namespace heartpage {
namespace {

using testing::LoopbackListener;
using namespace std::chrono_literals;

struct ParsedRequest {
  std::string request_line;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

ParsedRequest Parse(const std::string& raw) {
  ParsedRequest parsed;
  const std::size_t head_end = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, head_end);
  parsed.body = raw.substr(head_end + 4);
  std::size_t pos = head.find("\r\n");
  parsed.request_line = head.substr(0, pos);
  while (pos != std::string::npos) {
    const std::size_t start = pos + 2;
    pos = head.find("\r\n", start);
    const std::string line = head.substr(start, pos - start);
    const std::size_t colon = line.find(':');
    std::string value = line.substr(colon + 1);
    if (value.starts_with(' ')) value.erase(0, 1);
    parsed.headers.emplace_back(line.substr(0, colon), value);
  }
  return parsed;
}

LoopbackListener::Handler Answer(std::string status, std::string body) {
  return [response = LoopbackListener::Response(status, body)](const std::string&) {
    return std::optional<std::string>(response);
  };
}

TEST(PostFormTest, SendsExactlyTheEightHeadersInOrderAndTheBodyUnchanged) {
  // An empty body, an ordinary one, and one large enough that an HTTP stack
  // would normally ask for "Expect: 100-continue".
  const std::string large(2 * 1024 * 1024 + 7, '7');
  for (const std::string& body : {std::string(), std::string("zc=49&sql=115A-12363A32"), large}) {
    LoopbackListener listener(Answer("200 OK", "x"));
    EXPECT_EQ(PostFormChecked(listener.Address(), body).text, "x");
    ASSERT_EQ(listener.Requests().size(), 1u);
    const ParsedRequest request = Parse(listener.Requests()[0]);

    EXPECT_EQ(request.request_line, "POST /asp/index.asp HTTP/1.1");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Host", "127.0.0.1:" + std::to_string(listener.port())},
        {"Accept", "*/*"},
        {"Accept-Language", "zh-cn"},
        {"User-Agent", "Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 5.1; Trident/4.0)"},
        {"Content-Type", "application/x-www-form-urlencoded"},
        {"Referer", ""},
        {"Content-Length", std::to_string(body.size())},
        {"Connection", "Keep-Alive"},
        {"Cache-Control", "no-cache"},
    };
    EXPECT_EQ(request.headers, expected) << "body of " << body.size() << " bytes";
    EXPECT_TRUE(request.body == body) << "body of " << body.size() << " bytes arrived changed";
  }
}

TEST(PostFormTest, AnswersAreDecodedFromGbkWithTheStatusReported) {
  // Record and field separators arrive as their GBK byte pairs.
  const std::string gbk_answer = ToGbk("头いゼabc123いmine");
  ASSERT_EQ(gbk_answer.substr(2, 4), "\xA4\xA4\xA5\xBC");
  {
    LoopbackListener listener(Answer("200 OK", gbk_answer));
    const PostResult result = PostFormChecked(listener.Address(), "zc=49");
    EXPECT_EQ(result.text, "头いゼabc123いmine");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.status, 200);
  }
  {
    LoopbackListener listener(Answer("200 OK", ""));
    const PostResult result = PostFormChecked(listener.Address(), "zc=49");
    EXPECT_EQ(result.text, "");
    EXPECT_TRUE(result.ok);
  }
  {
    // An error status still yields its body; only the flag tells them apart.
    LoopbackListener listener(Answer("500 Internal Server Error", ToGbk("服务器错误")));
    const PostResult result = PostFormChecked(listener.Address(), "zc=49");
    EXPECT_EQ(result.text, "服务器错误");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 500);
  }
}

TEST(PostFormTest, FailedExchangesGiveTheEmptyTextAndNoSuccess) {
  const PostLimits quick{500ms, 500ms};
  const auto expect_failed = [](const PostResult& result, const char* what) {
    EXPECT_EQ(result.text, "") << what;
    EXPECT_FALSE(result.ok) << what;
    EXPECT_EQ(result.status, 0) << what;
  };

  expect_failed(
      PostFormChecked(
          "http://127.0.0.1:" + std::to_string(LoopbackListener::ClosedPort()) + "/asp/index.asp",
          "zc=49", quick),
      "closed port");
  {
    LoopbackListener silent([](const std::string&) { return std::optional<std::string>(); });
    expect_failed(PostFormChecked(silent.Address(), "zc=49", quick), "server never answers");
  }
  {
    // Fewer body bytes than announced, then the connection closes: a partial
    // record set must not pass for an answer.
    LoopbackListener cut([](const std::string&) {
      return std::optional<std::string>("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nいゼabc");
    });
    expect_failed(PostFormChecked(cut.Address(), "zc=49", quick), "answer cut off");
  }
  {
    LoopbackListener garbage(
        [](const std::string&) { return std::optional<std::string>("not http at all\r\n\r\n"); });
    expect_failed(PostFormChecked(garbage.Address(), "zc=49", quick), "not an HTTP answer");
  }
  expect_failed(PostFormChecked("file:///etc/passwd", "", quick), "not an http address");
  expect_failed(PostFormChecked("", "", quick), "no address");
}

// A server that takes the connection and then stops reading (it died, a
// proxy in front of it stalled): neither a form post nor a file upload waits
// for its total limit; each ends once nothing has moved for its stall limit.
TEST(PostFormTest, ATransferThatStopsMovingEndsAfterItsStallLimit) {
  std::mutex mutex;
  std::vector<int> held;
  testing::AcceptLoop stalled;
  stalled.Start([&](int fd) {
    char head[1024];
    (void)!recv(fd, head, sizeof head, 0);
    std::lock_guard lock(mutex);
    held.push_back(fd);
  });
  const std::string address = "http://127.0.0.1:" + std::to_string(stalled.port());
  // Far more than the loopback's buffers take in without a reader.
  const std::string body(32 * 1024 * 1024, 'x');
  const auto timed = [](auto request) {
    const auto start = std::chrono::steady_clock::now();
    request();
    return std::chrono::steady_clock::now() - start;
  };

  // Both at once: each waits out libcurl's five-second speed average first.
  PostResult post;
  std::chrono::steady_clock::duration post_took{};
  std::thread posting([&] {
    post_took = timed([&] {
      post = PostFormChecked(address + "/asp/index.asp", body, PostLimits{5s, 60s, 1s});
    });
  });
  MediaUploadResult upload;
  const auto upload_took =
      timed([&] { upload = UploadMedia(address + "/api/media", {}, body, "DISK-1", {}, 60s, 1s); });
  posting.join();
  EXPECT_FALSE(post.ok);
  EXPECT_EQ(post.status, 0);
  EXPECT_EQ(upload.status, 0);
  EXPECT_FALSE(upload.cancelled);
  EXPECT_LT(post_took, 10s);
  EXPECT_LT(upload_took, 10s);

  stalled.Stop();
  for (const int fd : held) close(fd);
}

TEST(PostFormTest, RequestsOnTwoThreadsRunAtOnce) {
  LoopbackListener inner(Answer("200 OK", "inner"));
  std::promise<std::string> inner_answer;
  std::shared_future<std::string> inner_done = inner_answer.get_future().share();

  // The outer answer is held back until the request of the other thread has
  // completed, so the outer call can only return if that one was not held
  // up behind it.
  LoopbackListener outer([inner_done](const std::string&) -> std::optional<std::string> {
    if (inner_done.wait_for(10s) != std::future_status::ready)
      return "HTTP/1.1 504 Timeout\r\n\r\n";
    return LoopbackListener::Response("200 OK", "outer");
  });

  std::thread other(
      [&] { inner_answer.set_value(PostFormChecked(inner.Address(), "zc=50").text); });
  const PostResult result = PostFormChecked(outer.Address(), "zc=49");
  other.join();
  EXPECT_EQ(result.text, "outer");
  EXPECT_TRUE(result.ok);
  ASSERT_EQ(inner_done.wait_for(0s), std::future_status::ready);
  EXPECT_EQ(inner_done.get(), "inner");
  EXPECT_EQ(Parse(inner.Requests().at(0)).body, "zc=50");
  EXPECT_EQ(Parse(outer.Requests().at(0)).body, "zc=49");
}

}  // namespace
}  // namespace heartpage
