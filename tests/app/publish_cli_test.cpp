#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/http_get.h"
#include "tests/support/server_process.h"

namespace heartpage {
namespace {

using testing::RunProgram;
using testing::RunResult;
using testing::ServerProcess;
using testing::TempDir;

using testing_support::Fetch;

class PublishCliTest : public ::testing::Test {
 protected:
  PublishCliTest() : server_(HEARTPAGE_SERVER, data_.path()) {}

  std::vector<std::string> Env() const { return {"HEARTPAGE_HOST=" + server_.host()}; }

  RunResult Cli(std::vector<std::string> args) const {
    args.insert(args.begin(), HEARTPAGE_CLI);
    return RunProgram(args, Env());
  }

  // The page bytes as the client sends them: the build output without the
  // line end that only the preview file carries.
  std::string PageBytes(const std::vector<std::string>& page_args) const {
    std::vector<std::string> args = {"build"};
    args.insert(args.end(), page_args.begin(), page_args.end());
    const RunResult built = Cli(args);
    EXPECT_EQ(built.status, 0) << built.err;
    EXPECT_TRUE(built.out.ends_with("\r\n"));
    return built.out.substr(0, built.out.size() - 2);
  }

  std::string PageAddress(const std::string& name) const {
    return "http://" + server_.host() + "/Test/" + name;
  }

  TempDir data_;
  ServerProcess server_;
};

TEST_F(PublishCliTest, APublishedPageIsServedExactlyAsSent) {
  // A quote, Chinese text and a character outside GBK in the page; a quote,
  // a tab and a space in the machine identifier.
  const std::string machine = "pc'\t 1";
  const std::vector<std::string> page = {"--style", "3", "--check", "--set",
                                         "Text1(14)=子墨's ❤ page"};
  std::vector<std::string> publish = {"publish", "--name", "Love520", "--machine-id", machine};
  publish.insert(publish.end(), page.begin(), page.end());

  const RunResult published = Cli(publish);
  ASSERT_EQ(published.status, 0) << published.err;
  EXPECT_EQ(published.out, PageAddress("love520") + "\n");
  const std::string sent = PageBytes(page);
  const std::string served = Fetch(PageAddress("love520"));
  EXPECT_EQ(served.size(), sent.size());
  EXPECT_TRUE(served == sent) << "the served page differs from the page sent";

  // The owner publishes again under its name, with or without naming it:
  // only the page is replaced. The QR code written alongside reads back, with
  // an independent reader, as the address.
  const std::string qr = (data_.path() / "love520.png").string();
  const RunResult again = Cli({"publish", "--style", "5", "--machine-id", machine, "--qr", qr});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, PageAddress("love520") + "\n");
  EXPECT_TRUE(Fetch(PageAddress("love520")) == PageBytes({"--style", "5"}));
  const RunResult decoded = RunProgram({"/usr/bin/zbarimg", "--quiet", "--raw", qr}, {});
  EXPECT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(decoded.out, PageAddress("love520") + "\n");

  // The poster of the page online, without a display, opens it too; it
  // shows the style's artwork until the page has a photo of the sender's.
  const std::string poster = (data_.path() / "poster.png").string();
  const auto draw = [&] {
    return RunProgram({HEARTPAGE_CLI, "poster", "--machine-id", machine, "-o", poster},
                      {"HEARTPAGE_HOST=" + server_.host(), "DISPLAY="});
  };
  const RunResult drawn = draw();
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_EQ(drawn.out, poster + "\npicture: the artwork of style 5\n");
  const RunResult read = RunProgram({"/usr/bin/zbarimg", "--quiet", "--raw", poster}, {});
  EXPECT_EQ(read.out, PageAddress("love520") + "\n") << read.err;

  const std::string gif = (data_.path() / "dot.gif").string();
  std::ofstream(gif, std::ios::binary) << std::string_view(
      "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00!\xf9\x04\x00\x00\x00\x00"
      "\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02"
      "D\x01\x00;",
      43);
  const RunResult uploaded = Cli({"upload", gif, "--machine-id", machine});
  ASSERT_EQ(uploaded.status, 0) << uploaded.err;
  const std::string photo = uploaded.out.substr(0, uploaded.out.size() - 1);
  ASSERT_EQ(Cli({"publish", "--style", "6", "--machine-id", machine, "--set", "Text7(1)=" + photo})
                .status,
            0);
  EXPECT_EQ(draw().out, poster + "\npicture: " + photo + "\n");
}

TEST_F(PublishCliTest, NamesAreKeptByTheirOwners) {
  ASSERT_EQ(Cli({"publish", "--style", "1", "--name", "ours", "--machine-id", "A"}).status, 0);

  const RunResult other = Cli({"publish", "--style", "2", "--name", "ours", "--machine-id", "B"});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("文件名已存在！"), std::string::npos) << other.err;

  const RunResult second_name =
      Cli({"publish", "--style", "1", "--name", "another", "--machine-id", "A"});
  EXPECT_EQ(second_name.status, 1);
  EXPECT_NE(second_name.err.find("\"ours\""), std::string::npos) << second_name.err;

  const RunResult bad = Cli({"publish", "--style", "1", "--name", "a.b", "--machine-id", "C"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("文件名只能为字母或数字"), std::string::npos) << bad.err;

  const RunResult unnamed = Cli({"publish", "--style", "1", "--machine-id", "C"});
  EXPECT_EQ(unnamed.status, 2) << unnamed.err;

  EXPECT_TRUE(Fetch(PageAddress("ours")) == PageBytes({"--style", "1"}));
  EXPECT_EQ(Fetch(PageAddress("another")), "<failed>");

  // A mistyped name is given up; its page goes and the owner takes another,
  // while anyone may now take the old one.
  const RunResult released = Cli({"release", "--machine-id", "A"});
  ASSERT_EQ(released.status, 0) << released.err;
  EXPECT_EQ(released.out, "released: " + PageAddress("ours") + "\n");
  EXPECT_EQ(Fetch(PageAddress("ours")), "<failed>");
  EXPECT_EQ(Cli({"publish", "--style", "1", "--name", "another", "--machine-id", "A"}).status, 0);
  EXPECT_EQ(Cli({"publish", "--style", "2", "--name", "ours", "--machine-id", "B"}).status, 0);
  EXPECT_TRUE(Fetch(PageAddress("ours")) == PageBytes({"--style", "2"}));
  const RunResult nothing = Cli({"release", "--machine-id", "C"});
  EXPECT_EQ(nothing.status, 1);
  EXPECT_NE(nothing.err.find("owns no name"), std::string::npos) << nothing.err;
}

// status tells what came back from the page: nobody yet, then the openings
// the page reported, then, for a page that asks, the answer that counts.
TEST_F(PublishCliTest, StatusPrintsWhatCameBackFromThePage) {
  const RunResult none = Cli({"status", "--machine-id", "S"});
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_NE(none.out.find("owns no name"), std::string::npos) << none.out;

  ASSERT_EQ(Cli({"publish", "--style", "2", "--name", "asked", "--machine-id", "S", "--question",
                 "做我女朋友好吗？", "--answers", "好呀,再想想"})
                .status,
            0);
  const RunResult fresh = Cli({"status", "--machine-id", "S"});
  EXPECT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_EQ(fresh.out,
            PageAddress("asked") + "\t还没有人打开\n\topens: at once\n\tcode: not set\n");

  // As the page's script sends them.
  const auto visit = [&](const std::string& path, const std::string& body) {
    return testing::RunProgram({"/usr/bin/curl", "-s", "-o", "/dev/null", "-w", "%{http_code}",
                                "--noproxy", "*", "-H", "Content-Type: text/plain;charset=UTF-8",
                                "--data-raw", body, "http://" + server_.host() + path})
        .out;
  };
  EXPECT_EQ(visit("/api/opened/asked", ""), "204");
  EXPECT_EQ(visit("/api/answer/asked", "answer=2"), "204");
  EXPECT_EQ(visit("/api/answer/asked", "answer=1"), "204");
  const RunResult answered = Cli({"status", "--machine-id", "S"});
  EXPECT_EQ(answered.status, 0) << answered.err;
  EXPECT_TRUE(answered.out.starts_with(PageAddress("asked") + "\t已打开 1 次 · 最近 "))
      << answered.out;
  EXPECT_NE(answered.out.find(" · TA的回答：好呀（"), std::string::npos) << answered.out;

  // Taken down, the address no longer answers: status says so, and keeps
  // what came back from it.
  ASSERT_EQ(Cli({"unpublish", "--machine-id", "S"}).status, 0);
  const RunResult down = Cli({"status", "--machine-id", "S"});
  EXPECT_EQ(down.status, 0) << down.err;
  EXPECT_NE(down.out.find("TA的回答：好呀（"), std::string::npos) << down.out;
  EXPECT_NE(down.out.find("\tnot online: the name is kept"), std::string::npos) << down.out;
  EXPECT_EQ(down.out.find("opens:"), std::string::npos) << down.out;
}

TEST_F(PublishCliTest, SettingsArePrintedWithTheirIndex) {
  const RunResult settings = Cli({"settings"});
  ASSERT_EQ(settings.status, 0) << settings.err;
  EXPECT_TRUE(settings.out.starts_with("0\t")) << settings.out;
  EXPECT_NE(settings.out.find("\n4\tV1.0\n"), std::string::npos) << settings.out;
  EXPECT_NE(settings.out.find("\n5\thttp"), std::string::npos) << settings.out;
}

TEST(PublishCliUnreachableTest, FailuresEndWithAMessageAndStatusOne) {
  const std::vector<std::string> env = {"HEARTPAGE_HOST=127.0.0.1:1"};
  const RunResult publish = RunProgram(
      {HEARTPAGE_CLI, "publish", "--style", "1", "--name", "abc", "--machine-id", "A"}, env);
  EXPECT_EQ(publish.status, 1);
  EXPECT_EQ(publish.out, "");
  EXPECT_NE(publish.err.find("上传失败,请检查网络后重试!"), std::string::npos) << publish.err;

  const RunResult settings = RunProgram({HEARTPAGE_CLI, "settings"}, env);
  EXPECT_EQ(settings.status, 1);
  EXPECT_EQ(settings.out, "");

  const RunResult status = RunProgram({HEARTPAGE_CLI, "status", "--machine-id", "A"}, env);
  EXPECT_EQ(status.status, 1);
  EXPECT_NE(status.err.find("无法连接服务器,请检查网络后重试!"), std::string::npos) << status.err;
}

}  // namespace
}  // namespace heartpage
