// Runs heartpage-cli as a user would and checks what it prints and writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/address_server.h"
#include "tests/support/server_process.h"
#include "text/gbk.h"

namespace {

namespace fs = std::filesystem;

using heartpage::testing::ReadFile;
using CliRun = heartpage::testing::RunResult;

class CliTest : public ::testing::Test {
 protected:
  static CliRun Cli(std::vector<std::string> args) {
    args.insert(args.begin(), HEARTPAGE_CLI);
    return heartpage::testing::RunProgram(args);
  }

  heartpage::testing::TempDir scratch_;
  const fs::path dir_ = scratch_.path();
};

TEST_F(CliTest, BuildWritesTheGbkPageEndingInOneCrLf) {
  const fs::path page = dir_ / "page.htm";
  const CliRun run = Cli({"build", "--style", "3", "--check", "--set", "Text1(14)=子墨❤", "--set",
                          "Text1(16)=a=b", "-o", page.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string bytes = ReadFile(page);
  EXPECT_NE(bytes.find("id=\"floatPicture\""), std::string::npos)
      << "--check adds the floating picture";
  EXPECT_TRUE(bytes.ends_with("</html>\r\n\r\n"));
  EXPECT_NE(bytes.find(heartpage::ToGbk("子墨❤")), std::string::npos);
  EXPECT_NE(bytes.find("a=b"), std::string::npos);

  const CliRun to_stdout = Cli(
      {"build", "--style", "3", "--check", "--set", "Text1(14)=子墨❤", "--set", "Text1(16)=a=b"});
  EXPECT_EQ(to_stdout.out, bytes);
}

TEST_F(CliTest, EveryStyleBuildsFromItsDefaults) {
  for (int style = 1; style <= 8; ++style) {
    const CliRun run = Cli({"build", "--style", std::to_string(style)});
    EXPECT_EQ(run.status, 0) << style << ": " << run.err;
    EXPECT_GT(run.out.size(), 500u) << style;
  }
}

TEST_F(CliTest, BadRequestsEndWithStatusTwoAndAMessage) {
  const std::vector<std::vector<std::string>> bad = {
      {"build", "--style", "9"},
      {"build", "--style", "x"},
      {"build"},
      {"build", "--style", "1", "--set", "Text1(99)=x"},
      {"build", "--style", "1", "--set", "Text1(1)"},
      {"build", "--style", "1", "--check"},
      {"build", "--style", "1", "--bogus"},
      {"build", "--style"},
      {"build", "--style", "1", "--question", "嫁给我？", "--answers", "好"},
      {"build", "--style", "1", "--question", "嫁给我？", "--answers", "好,,不"},
      {"build", "--style", "1", "--question", "嫁给我？", "--answers", "好, "},
      {"build", "--style", "1", "--answers", "好,不好"},
      {"build", "--style", "1", "--question", "嫁给我？\n"},
      {"preview", "--style", "1", "--question", "嫁给我？", "--answers", "好"},
      {"publish", "--style", "1", "--question", "嫁给我？", "--answers", "好"},
      // How the page opens: a moment past or no time at all, a code without
      // its hint and the other way round, and none of them for a preview.
      {"build", "--style", "1", "--opens", "2020-01-01 08:00"},
      {"build", "--style", "1", "--opens", "2099-02-30 20:00"},
      {"build", "--style", "1", "--opens", "明天晚上"},
      {"publish", "--style", "1", "--code", "上海"},
      {"build", "--style", "1", "--hint", "我们第一次见面的城市？"},
      {"build", "--style", "1", "--code", std::string(33, 'x'), "--hint", "?"},
      {"build", "--style", "1", "--code", " \xE3\x80\x80 ", "--hint", "?"},
      {"preview", "--style", "1", "--opens", "2099-02-14 20:00"},
      {"decode", "12A"},
      {"encode"},
      {"frobnicate"},
      {},
  };
  for (const auto& args : bad) {
    const CliRun run = Cli(args);
    std::string joined;
    for (const auto& arg : args) joined += arg + " ";
    EXPECT_EQ(run.status, 2) << joined;
    EXPECT_FALSE(run.err.empty()) << joined;
    EXPECT_TRUE(run.out.empty()) << joined;
  }
}

// A page held back is the same page: build checks the settings and writes
// what it writes without them; an empty moment is none.
TEST_F(CliTest, BuildTakesTheMomentAndTheCodeAndWritesTheSamePage) {
  const CliRun plain = Cli({"build", "--style", "2"});
  const CliRun held = Cli({"build", "--style", "2", "--opens", "2099-02-14 20:00", "--code", "上海",
                           "--hint", "我们第一次见面的城市？"});
  ASSERT_EQ(held.status, 0) << held.err;
  EXPECT_EQ(held.out, plain.out);
  const CliRun cleared = Cli({"build", "--style", "2", "--opens", ""});
  EXPECT_EQ(cleared.status, 0) << cleared.err;
  // A code easy to guess is warned of, and still taken.
  const CliRun easy = Cli({"build", "--style", "2", "--code", "2024-02-14", "--hint", "那天"});
  ASSERT_EQ(easy.status, 0) << easy.err;
  EXPECT_EQ(easy.out, plain.out);
  EXPECT_NE(easy.err.find("warning: --code is easy to guess"), std::string::npos) << easy.err;
  EXPECT_EQ(easy.err.find("2024-02-14"), std::string::npos) << "the code is never echoed";
  const CliRun past = Cli({"build", "--style", "2", "--opens", "2020-01-01 08:00"});
  EXPECT_EQ(std::count(past.err.begin(), past.err.end(), '\n'), 1) << past.err;
  EXPECT_NE(past.err.find("has passed"), std::string::npos) << past.err;
}

// A mistyped host is named with what is wrong before anything is built or
// sent; commands that make no address of it are not held up by it.
TEST_F(CliTest, AMalformedHostIsNamedAndEndsWithStatusTwo) {
  const std::vector<std::pair<std::string, std::string>> hosts = {
      {"htp://127.0.0.1:8936", "\"htp://\" is no scheme"},
      {"127.0.0.1:89360", "port must be a number from 1 to 65535"},
      {"127.0.0.l:8936", "\"127.0.0.l\" is no IPv4 address"},
  };
  for (const auto& [host, reason] : hosts) {
    for (const char* command : {"settings", "build"}) {
      const CliRun run = heartpage::testing::RunProgram({HEARTPAGE_CLI, command, "--style", "1"},
                                                        {"HEARTPAGE_HOST=" + host});
      EXPECT_EQ(run.status, 2) << host;
      EXPECT_TRUE(run.out.empty()) << host;
      EXPECT_EQ(run.err.find("heartpage-cli: HEARTPAGE_HOST=" + host + ": "), 0u) << run.err;
      EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
  const CliRun encoded =
      heartpage::testing::RunProgram({HEARTPAGE_CLI, "encode", "a"}, {"HEARTPAGE_HOST=htp://x"});
  EXPECT_EQ(encoded.status, 0);
}

// The checks print what looks wrong and let the command go on; --strict
// makes that an error that writes nothing.
TEST_F(CliTest, PageCommandsPrintTheFindingsAndStrictStopsAtThem) {
  const heartpage::testing::AddressServer server;
  const std::vector<std::string> fine = {"build",
                                         "--style",
                                         "2",
                                         "--set",
                                         "Text1(6)=" + server.Url("/good.jpg"),
                                         "--set",
                                         "Text1(8)=" + server.Url("/song.mp3"),
                                         "--set",
                                         "Text1(7)=" + server.Url("/page.html")};
  const CliRun quiet = Cli(fine);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");

  std::vector<std::string> wrong = fine;
  for (const std::string& set : {"Text1(6)=" + server.Url("/gone.jpg"), std::string("Text1(10)=31"),
                                 std::string("Text1(9)=10")}) {
    wrong.push_back("--set");
    wrong.push_back(set);
  }
  const CliRun warned = Cli(wrong);
  EXPECT_EQ(warned.status, 0);
  EXPECT_GT(warned.out.size(), 500u);
  EXPECT_EQ(warned.err,
            "heartpage-cli: 以下地址可能无法使用：\n"
            "  漂浮图片地址：服务器回答 404\n"
            "  相识时间：2013 年 11 月没有 31 日\n");

  wrong.push_back("--strict");
  const CliRun strict = Cli(wrong);
  EXPECT_EQ(strict.status, 1);
  EXPECT_TRUE(strict.out.empty());
  EXPECT_TRUE(strict.err.find("漂浮图片地址：服务器回答 404") != std::string::npos) << strict.err;
}

TEST_F(CliTest, EncodeAndDecodeAreInverse) {
  const CliRun encoded = Cli({"encode", "你好 ❤"});
  ASSERT_EQ(encoded.status, 0);
  EXPECT_EQ(encoded.out, "-15133A-17725A32A-32457A-15048\n");
  const CliRun decoded = Cli({"decode", "-15133A-17725A32A-32457A-15048"});
  ASSERT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.out, "你好 ❤\n");
}

TEST_F(CliTest, TheTerminalQrCodeReadsBackAsItsText) {
  const std::string address = "http://pages.example.org:8936/Test/love520";
  const CliRun run = Cli({"qr", address});
  ASSERT_EQ(run.status, 0) << run.err;
  // Half blocks back to pixels (the terminal's ink is light, its ground
  // dark), four pixels a module, as a picture that zbar reads.
  std::vector<std::vector<bool>> light;
  std::size_t line_start = 0;
  while (line_start < run.out.size()) {
    const std::size_t end = run.out.find('\n', line_start);
    ASSERT_NE(end, std::string::npos);
    std::vector<bool> upper, lower;
    for (std::size_t i = line_start; i < end;) {
      if (run.out[i] == ' ') {
        upper.push_back(false), lower.push_back(false), ++i;
        continue;
      }
      const std::string block = run.out.substr(i, 3);
      ASSERT_TRUE(block == "█" || block == "▀" || block == "▄") << block;
      upper.push_back(block != "▄");
      lower.push_back(block != "▀");
      i += 3;
    }
    light.push_back(upper);
    light.push_back(lower);
    line_start = end + 1;
  }
  ASSERT_GT(light.size(), 20u);
  // The quiet zone: the outer four rows and columns are all light.
  EXPECT_TRUE(std::ranges::all_of(light[0], [](bool b) { return b; }));
  constexpr int kScale = 4;
  const std::size_t width = light[0].size();
  std::string pgm = "P5 " + std::to_string(width * kScale) + " " +
                    std::to_string(light.size() * kScale) + " 255\n";
  for (const auto& row : light)
    for (int dy = 0; dy < kScale; ++dy)
      for (const bool module : row) pgm.append(kScale, module ? '\xff' : '\0');
  const fs::path picture = dir_ / "terminal.pgm";
  std::ofstream(picture, std::ios::binary) << pgm;
  const CliRun decoded =
      heartpage::testing::RunProgram({"/usr/bin/zbarimg", "--quiet", "--raw", picture.string()});
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.out, address + "\n");
}

// The manual and the table of commands cannot drift apart: the manual has an
// entry for each command --help lists and no other, and its options are the
// flags --help shows, --help itself besides.
TEST_F(CliTest, TheManualDescribesExactlyTheCommandsAndTheirFlags) {
  std::string manual = ReadFile(HEARTPAGE_CLI_MANUAL);
  ASSERT_FALSE(manual.empty());
  for (std::size_t at; (at = manual.find("\\-")) != std::string::npos;) manual.erase(at, 1);
  const auto section = [&](const std::string& title) {
    const std::size_t start = manual.find("\n.SH " + title);
    EXPECT_NE(start, std::string::npos) << title;
    return manual.substr(start, manual.find("\n.SH ", start + 1) - start);
  };
  const auto all = [](const std::string& text, const std::regex& pattern, std::size_t group) {
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it)
      found.insert((*it)[group].str());
    return found;
  };
  const CliRun help = Cli({"--help"});
  ASSERT_EQ(help.status, 0);
  const std::regex flag("(^|[^a-z0-9-])(--?[a-z](?:[a-z-]*[a-z])?)");
  std::set<std::string> flags = all(help.out, flag, 2);
  flags.insert({"--help", "-h"});
  EXPECT_EQ(all(section("OPTIONS"), flag, 2), flags);

  std::set<std::string> entries;
  const std::string commands = section("COMMANDS");
  const std::regex heading("\n\\.TP\n\\.BR? ([^\n]*)");
  const std::regex word("[a-z][a-z-]*");
  for (const std::string& line : all(commands, heading, 1))
    for (const std::string& name : all(line, word, 0)) entries.insert(name);
  EXPECT_EQ(entries, all(help.out, std::regex("\n  ([a-z][a-z-]*)(?= |\n)"), 1));
}

}  // namespace
