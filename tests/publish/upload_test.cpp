#include "publish/upload.h"
#include "publish/scan_preview.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/host.h"
#include "tests/support/tls_listener.h"

namespace heartpage {
namespace {

// Answers each kind of request with what the test sets, and keeps every body
// it was sent. An unexpected body answers as an unreachable server would.
struct FakeServer {
  std::map<std::string, PostResult> answers;
  std::vector<std::string> sent;

  UploadServices Services(std::string machine_id = "S1") {
    return {[this](const std::string& body) {
              sent.push_back(body);
              const auto it = answers.find(body);
              return it == answers.end() ? PostResult{} : it->second;
            },
            [machine_id] { return machine_id; }};
  }
};

const PostResult kEmpty200{"", true, 200};
constexpr std::string_view kPage = "<html>心</html>";

class UploadTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("HEARTPAGE_HOST", "pages.test:81", 1); }
  void TearDown() override { unsetenv("HEARTPAGE_HOST"); }

  // A server on which "abc" is free and every step succeeds.
  FakeServer Willing() {
    FakeServer server;
    server.answers[NameLookupRequest("abc")] = kEmpty200;
    server.answers[NameClaimRequest("S1", "abc")] = kEmpty200;
    server.answers[PageStoreRequest("abc", "S1", kPage)] = kEmpty200;
    return server;
  }
};

TEST_F(UploadTest, AFreeNameIsLookedUpClaimedAndStored) {
  FakeServer server = Willing();
  const UploadOutcome outcome = Upload("abc", false, kPage, server.Services());

  EXPECT_EQ(server.sent,
            (std::vector<std::string>{NameLookupRequest("abc"), NameClaimRequest("S1", "abc"),
                                      PageStoreRequest("abc", "S1", kPage)}));
  EXPECT_TRUE(outcome.uploaded);
  EXPECT_EQ(outcome.status, "上传成功！");
  EXPECT_EQ(outcome.address, "http://pages.test:81/Test/abc");
  EXPECT_EQ(outcome.owned_name, "abc");
}

TEST_F(UploadTest, PastedCapitalsAreSentAsSmallLetters) {
  FakeServer server = Willing();
  const UploadOutcome outcome = Upload("AbC", false, kPage, server.Services());
  EXPECT_TRUE(outcome.uploaded);
  EXPECT_EQ(outcome.name, "abc");
  EXPECT_EQ(outcome.address, "http://pages.test:81/Test/abc");
  EXPECT_EQ(server.sent.front(), NameLookupRequest("abc"));
}

// The store of an earlier attempt failed after our claim got through: the
// name lookup says only that the name is taken, the ownership lookup that it
// is ours, and only the page is sent again.
TEST_F(UploadTest, OurOwnEarlierClaimIsNotClaimedAgain) {
  FakeServer server = Willing();
  server.answers[NameLookupRequest("abc")] = {"いゼいabcい2026-01-01", true, 200};
  server.answers[OwnershipLookupRequest("S1")] = {"いゼS1いabcい2026-01-01", true, 200};
  const UploadOutcome outcome = Upload("abc", false, kPage, server.Services());
  EXPECT_TRUE(outcome.uploaded);
  EXPECT_EQ(server.sent,
            (std::vector<std::string>{NameLookupRequest("abc"), OwnershipLookupRequest("S1"),
                                      PageStoreRequest("abc", "S1", kPage)}));

  // Owning another name, or an ownership lookup that fails, is no claim of
  // this one.
  server.answers[OwnershipLookupRequest("S1")] = {"いゼS1いxyzい", true, 200};
  EXPECT_EQ(Upload("abc", false, kPage, server.Services()).status, "文件名已存在！");
  server.answers[OwnershipLookupRequest("S1")] = {"", false, 503};
  EXPECT_EQ(Upload("abc", false, kPage, server.Services()).status, "服务器繁忙，请稍后再试！");
}

TEST_F(UploadTest, AnOwnedNameIsOnlyStored) {
  FakeServer server = Willing();
  const UploadOutcome outcome = Upload("abc", true, kPage, server.Services());
  EXPECT_EQ(server.sent, std::vector<std::string>{PageStoreRequest("abc", "S1", kPage)});
  EXPECT_TRUE(outcome.uploaded);
  EXPECT_EQ(outcome.address, "http://pages.test:81/Test/abc");
  EXPECT_EQ(outcome.owned_name, "abc");
}

TEST_F(UploadTest, ATakenNameStopsAfterTheLookups) {
  FakeServer server = Willing();
  server.answers[NameLookupRequest("abc")] = {"いゼいabcい2026-01-01", true, 200};
  server.answers[OwnershipLookupRequest("S1")] = kEmpty200;
  const UploadOutcome outcome = Upload("abc", false, kPage, server.Services());
  EXPECT_EQ(server.sent.size(), 2u);
  EXPECT_FALSE(outcome.uploaded);
  EXPECT_EQ(outcome.status, "文件名已存在！");
  EXPECT_EQ(outcome.address, "");
  EXPECT_EQ(outcome.owned_name, "");

  // Names are one namespace whatever their case.
  server.answers[NameLookupRequest("abc")] = {"いゼいABC", true, 200};
  EXPECT_EQ(Upload("abc", false, kPage, server.Services()).status, "文件名已存在！");
}

TEST_F(UploadTest, NamesTheServerWouldRefuseSendNothing) {
  FakeServer server = Willing();
  EXPECT_EQ(Upload("", false, kPage, server.Services()).status, "文件名不能为空！");
  EXPECT_EQ(Upload("", true, kPage, server.Services()).status, "文件名不能为空！");
  for (const char* pasted : {"a'b", "a b", "中文", "../x"}) {
    const UploadOutcome outcome = Upload(pasted, false, kPage, server.Services());
    EXPECT_EQ(outcome.status, "文件名只能为字母或数字，不能是中文或带有标点符号！") << pasted;
    EXPECT_FALSE(outcome.uploaded);
  }
  EXPECT_TRUE(server.sent.empty());
}

// Each failing step: the user is told why the upload failed, in the
// server's words where it answered (a lost claim or a store refused as
// another machine's: that the name is taken), no address is given and the
// name stays unowned.
TEST_F(UploadTest, AFailedStepIsReportedAsAFailureNeverAsSuccess) {
  struct Case {
    const char* what;
    std::string failing_body;
    PostResult answer;
    std::size_t requests;
    std::string_view status;
  };
  const Case cases[] = {
      {"lookup unreachable", NameLookupRequest("abc"), {}, 1, upload_text::kUploadFailed},
      {"lookup refused",
       NameLookupRequest("abc"),
       {"bad", false, 400},
       1,
       "请求有误，请升级程序后重试！"},
      {"claimed meanwhile",
       NameClaimRequest("S1", "abc"),
       {"taken", false, 409},
       2,
       upload_text::kNameTaken},
      {"claim refused",
       NameClaimRequest("S1", "abc"),
       {"", false, 500},
       2,
       "服务器出错，请稍后再试！"},
      {"claim unreachable", NameClaimRequest("S1", "abc"), {}, 2, upload_text::kUploadFailed},
      {"store malformed",
       PageStoreRequest("abc", "S1", kPage),
       {"missing field ID", false, 400},
       3,
       "请求有误，请升级程序后重试！"},
      {"store too often",
       PageStoreRequest("abc", "S1", kPage),
       {"too many requests", false, 429},
       3,
       "操作太频繁，请稍后再试！"},
      {"store given to another machine",
       PageStoreRequest("abc", "S1", kPage),
       {"", false, 403},
       3,
       upload_text::kNameTaken},
      {"store of a page the server does not take",
       PageStoreRequest("abc", "S1", kPage),
       {"page is not one of the eight styles", false, 422},
       3,
       "不是本程序生成的网页"},
      {"store unreachable",
       PageStoreRequest("abc", "S1", kPage),
       {},
       3,
       upload_text::kUploadFailed},
  };
  for (const Case& c : cases) {
    FakeServer server = Willing();
    server.answers[c.failing_body] = c.answer;
    const UploadOutcome outcome = Upload("abc", false, kPage, server.Services());
    EXPECT_FALSE(outcome.uploaded) << c.what;
    EXPECT_EQ(outcome.status, c.status) << c.what;
    EXPECT_EQ(outcome.address, "") << c.what;
    EXPECT_EQ(outcome.owned_name, "") << c.what;
    EXPECT_EQ(server.sent.size(), c.requests) << c.what;
  }
  EXPECT_EQ(upload_text::kUploadFailed, "上传失败,请检查网络后重试!");

  // A failed store of an owned name leaves it owned, unless the server says
  // the name is another machine's.
  FakeServer server;
  const UploadOutcome outcome = Upload("abc", true, kPage, server.Services());
  EXPECT_FALSE(outcome.uploaded);
  EXPECT_EQ(outcome.status, "上传失败,请检查网络后重试!");
  EXPECT_EQ(outcome.owned_name, "abc");
  server.answers[PageStoreRequest("abc", "S1", kPage)] = {"", false, 403};
  const UploadOutcome refused = Upload("abc", true, kPage, server.Services());
  EXPECT_EQ(refused.status, "文件名已存在！");
  EXPECT_EQ(refused.owned_name, "");
}

// The code a phone opens holds only an address of our host: the answer's
// token, checked, on the configured origin; every failure has its words.
TEST_F(UploadTest, AScanPreviewTakesOnlyATokenFromTheAnswer) {
  FakeServer server;
  const std::string body = PreviewStoreRequest("S1", kPage);
  EXPECT_TRUE(body.starts_with("zc=53&ID="));
  const auto outcome = [&](PostResult answer) {
    server.answers[body] = std::move(answer);
    return StoreScanPreview(kPage, server.Services());
  };
  const ScanPreviewOutcome stored =
      outcome({"http://elsewhere.example/preview/abcdefghijklmnopqrstuvwx\n", true, 200});
  EXPECT_TRUE(stored.stored);
  EXPECT_EQ(stored.address, "http://pages.test:81/preview/abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(server.sent, std::vector<std::string>{body});
  for (const char* bad : {"http://pages.test:81/preview/short", "javascript:alert(1)",
                          "http://pages.test:81/preview/abcdefghijklmnop\"><b", ""}) {
    const ScanPreviewOutcome refused = outcome({bad, true, 200});
    EXPECT_FALSE(refused.stored) << bad;
    EXPECT_EQ(refused.status, "预览地址生成失败,请检查网络后重试!") << bad;
  }
  EXPECT_EQ(outcome({"", false, 413}).status, "网页太大,无法预览!");
  EXPECT_EQ(outcome({"", false, 429}).status, "操作太频繁，请稍后再试！");
  EXPECT_EQ(outcome({"", false, 507}).status, "服务器空间不足，请稍后再试！");
  EXPECT_EQ(outcome({"", false, 422}).status, "不是本程序生成的网页");
  EXPECT_EQ(outcome({}).status, "预览地址生成失败,请检查网络后重试!");
  const UploadServices unreadable{server.Services().post,
                                  []() -> std::string { throw std::runtime_error("no disk"); }};
  EXPECT_EQ(StoreScanPreview(kPage, unreadable).status, "无法读取本机标识,不能上传!");
}

TEST_F(UploadTest, AnUnreadableMachineIdentifierSendsNothing) {
  FakeServer server = Willing();
  UploadServices services = server.Services();
  services.machine_id = []() -> std::string { throw std::runtime_error("no disk"); };
  const UploadOutcome outcome = Upload("abc", false, kPage, services);
  EXPECT_EQ(outcome.status, "无法读取本机标识,不能上传!");
  EXPECT_FALSE(outcome.uploaded);
  EXPECT_TRUE(server.sent.empty());
  // Every store names the machine: an owned name is kept, but not stored.
  const UploadOutcome owned = Upload("abc", true, kPage, services);
  EXPECT_EQ(owned.status, "无法读取本机标识,不能上传!");
  EXPECT_EQ(owned.owned_name, "abc");
  EXPECT_TRUE(server.sent.empty());
}

TEST_F(UploadTest, TheClaimAndTheStoreCarryTheMachineIdentifier) {
  FakeServer server = Willing();
  server.answers[NameClaimRequest("W-'1'", "abc")] = kEmpty200;
  server.answers[PageStoreRequest("abc", "W-'1'", kPage)] = kEmpty200;
  EXPECT_TRUE(Upload("abc", false, kPage, server.Services("W-'1'")).uploaded);
  EXPECT_EQ(server.sent.at(1), NameClaimRequest("W-'1'", "abc"));
  EXPECT_EQ(server.sent.at(2), PageStoreRequest("abc", "W-'1'", kPage));
}

// Over HTTPS, the certificate decides: trusted through HEARTPAGE_CA_FILE the
// page is published at an https address; untrusted, or with a trust file
// that cannot be read, nothing reaches the server and the upload fails.
TEST_F(UploadTest, PublishesOverHttpsOnlyToATrustedCertificate) {
  const testing::TestCertificate certificate;
  testing::TlsLoopbackListener server(certificate, [](const std::string&) {
    return std::optional<std::string>(testing::LoopbackListener::Response("200 OK", ""));
  });
  setenv("HEARTPAGE_HOST", server.Host().c_str(), 1);
  const UploadServices services{PostToEndpoint, [] { return std::string("S1"); }};

  unsetenv("HEARTPAGE_CA_FILE");
  EXPECT_EQ(Upload("abc", false, kPage, services).status, "上传失败,请检查网络后重试!");
  setenv("HEARTPAGE_CA_FILE", (certificate.certificate().string() + ".missing").c_str(), 1);
  EXPECT_EQ(Upload("abc", false, kPage, services).status, "上传失败,请检查网络后重试!");
  EXPECT_TRUE(server.Requests().empty());

  setenv("HEARTPAGE_CA_FILE", certificate.certificate().c_str(), 1);
  const UploadOutcome outcome = Upload("abc", false, kPage, services);
  unsetenv("HEARTPAGE_CA_FILE");
  EXPECT_TRUE(outcome.uploaded) << outcome.status;
  EXPECT_EQ(outcome.address, server.Host() + "/Test/abc");
  const std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_TRUE(requests[2].starts_with("POST /asp/index.asp HTTP/1.1\r\n"));
  EXPECT_TRUE(requests[2].ends_with(PageStoreRequest("abc", "S1", kPage)));
}

}  // namespace
}  // namespace heartpage
