#include "app/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <stdexcept>

#include "net/server_requests.h"
#include "pages/builders.h"
#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/host.h"
#include "publish/upload.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/server_process.h"
#include "text/gbk.h"

namespace heartpage {
namespace {

using testing::LoopbackListener;

const std::string kMachine = "WD-WCC4N1234567";

// A record set as the server writes it, in GBK.
std::string Rows(const std::vector<std::string>& fields) {
  std::string text = "いゼ";
  for (const std::string& field : fields) text += field + "い";
  return ToGbk(text);
}

// The same row without the separator after its last field: a row of exactly
// this many fields.
std::string Exactly(const std::vector<std::string>& fields) {
  std::string text = "いゼ";
  for (std::size_t i = 0; i < fields.size(); ++i) text += (i ? "い" : "") + fields[i];
  return ToGbk(text);
}

std::vector<std::string> Settings(const std::string& announcement, const std::string& version,
                                  const std::string& download = "http://dl.example/heartpage") {
  return {"1", "HeartPage", "http://home.example/", announcement, version, download};
}

// A fake publishing server: settings and ownership answers as the test sets
// them; every request body is kept, in order.
class FakeServer {
 public:
  FakeServer()
      : listener_([this](const std::string& request) -> std::optional<std::string> {
          const std::string body = request.substr(request.find("\r\n\r\n") + 4);
          if (body == SettingsRequest()) return settings_answer;
          if (body == OwnershipLookupRequest(kMachine)) return ownership_answer;
          return LoopbackListener::Response("200 OK", "");
        }) {}

  std::vector<std::string> Bodies() const {
    std::vector<std::string> bodies;
    for (const std::string& request : listener_.Requests())
      bodies.push_back(request.substr(request.find("\r\n\r\n") + 4));
    return bodies;
  }
  std::string Address() const { return listener_.Address(); }

  std::string settings_answer =
      LoopbackListener::Response("200 OK", Rows(Settings("你好", "V1.0")));
  std::string ownership_answer = LoopbackListener::Response("200 OK", "");

 private:
  LoopbackListener listener_;
};

void AnswerSettings(FakeServer& server, const std::vector<std::string>& fields) {
  server.settings_answer = LoopbackListener::Response("200 OK", Rows(fields));
}

class StartupTest : public ::testing::Test {
 protected:
  ClientServices Services(const std::string& address) {
    ClientServices services;
    services.post = [address](const std::string& body, const PostLimits&) {
      return PostFormChecked(address, body,
                             PostLimits{std::chrono::seconds(5), std::chrono::seconds(5)});
    };
    services.machine_id = [this] {
      if (serials.empty()) throw std::runtime_error("no disk");
      std::string serial = serials.front();
      if (serials.size() > 1) serials.erase(serials.begin());
      return serial;
    };
    services.show_notice = [this](const Notice& notice) { notices.push_back(notice); };
    services.open_target = [this](const std::string& target) {
      opened.push_back(target);
      return true;
    };
    return services;
  }
  StartupResult Run(const ClientServices& services) {
    return RunStartup(services, [this] { return !another_instance; });
  }
  StartupResult Run() { return Run(Services(server.Address())); }

  FakeServer server;
  bool another_instance = false;
  std::vector<std::string> serials{kMachine};
  std::vector<Notice> notices;
  std::vector<std::string> opened;
};

const Notice kNewVersion{"发现最新版本!", "提示", NoticeIcon::kInformation};
const Notice kUnreachable{"无法连接服务器,请检查网络后重试!", "提示", NoticeIcon::kExclamation};
// A server that does not answer is named, a mistyped port being well formed.
const Notice kNotAnswering{"无法连接服务器,请检查网络后重试!\n服务器：" + PublishingHost(), "提示",
                           NoticeIcon::kExclamation};

TEST_F(StartupTest, CurrentVersionWithARowForThisMachineShowsTheWindowAndTheOwnedName) {
  server.ownership_answer =
      LoopbackListener::Response("200 OK", Rows({kMachine, "mine", "2024-01-01"}));
  const StartupResult result = Run();
  EXPECT_TRUE(result.show_main);
  EXPECT_EQ(result.announcement, "你好          ");
  EXPECT_EQ(result.owned_name, "mine");
  EXPECT_TRUE(notices.empty());
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(server.Bodies(), std::vector<std::string>({SettingsRequest(), SettingsRequest(),
                                                       OwnershipLookupRequest(kMachine)}));
}

TEST_F(StartupTest, NoRowOrAnotherMachinesRowOwnsNothing) {
  for (const std::string& answer : {std::string(), Rows({"OTHER-DISK", "theirs"}),
                                    ToGbk(kMachine + "いmine"), Exactly({kMachine})}) {
    server.ownership_answer = LoopbackListener::Response("200 OK", answer);
    const StartupResult result = Run();
    EXPECT_TRUE(result.show_main);
    EXPECT_EQ(result.owned_name, std::nullopt) << answer;
  }
  server.ownership_answer =
      LoopbackListener::Response("500 Internal Server Error", Rows({kMachine, "mine"}));
  EXPECT_EQ(Run().owned_name, std::nullopt) << "an error page is no record set";
}

TEST_F(StartupTest, TheIdentifierIsReadAgainForTheComparison) {
  server.ownership_answer = LoopbackListener::Response("200 OK", Rows({kMachine, "mine"}));
  serials = {kMachine, "ANOTHER-DISK"};
  EXPECT_EQ(Run().owned_name, std::nullopt);

  serials.clear();  // no identifier at all: no lookup, the window still shows
  const StartupResult result = Run();
  EXPECT_TRUE(result.show_main);
  EXPECT_EQ(result.owned_name, std::nullopt);
  EXPECT_EQ(server.Bodies().back(), SettingsRequest());
}

TEST_F(StartupTest, AnyOtherVersionLabelSendsTheUserToTheDownloadAndEnds) {
  for (const std::string label : {"V1.1", "v1.0", "V1.0 ", "V0.9", ""}) {
    opened.clear();
    notices.clear();
    AnswerSettings(server, Settings("公告文字", label, "http://dl.example/new"));
    const std::size_t before = server.Bodies().size();
    const StartupResult result = Run();
    EXPECT_FALSE(result.show_main) << "label \"" << label << "\"";
    EXPECT_EQ(notices, std::vector<Notice>({kNewVersion}));
    EXPECT_EQ(opened, std::vector<std::string>({"http://dl.example/new"}));
    EXPECT_EQ(result.announcement, "公告文字          ");
    // Three settings reads, no ownership lookup.
    EXPECT_EQ(server.Bodies().size() - before, 3u);
    EXPECT_EQ(server.Bodies().back(), SettingsRequest());
  }
}

// A download address that is not a web address (a file, a program's own
// scheme, a bare path) is never handed to the desktop's opener.
TEST_F(StartupTest, ADownloadAddressThatIsNoWebAddressIsNotOpened) {
  for (const std::string download :
       {"file:///etc/passwd", "javascript:alert(1)", "/usr/bin/xterm", "smb://host/x"}) {
    opened.clear();
    notices.clear();
    AnswerSettings(server, Settings("a", "V2.0", download));
    EXPECT_FALSE(Run().show_main) << download;
    EXPECT_TRUE(opened.empty()) << download;
    EXPECT_EQ(notices, std::vector<Notice>({kNewVersion, kUnreachable})) << download;
  }
}

TEST_F(StartupTest, ANewVersionWithoutDownloadAddressOpensNothing) {
  std::vector<std::string> fields = Settings("a", "V2.0");
  fields.pop_back();
  server.settings_answer = LoopbackListener::Response("200 OK", Exactly(fields));
  EXPECT_FALSE(Run().show_main);
  EXPECT_EQ(notices, std::vector<Notice>({kNewVersion}));
  EXPECT_TRUE(opened.empty());
}

TEST_F(StartupTest, AnEmptyAnnouncementLeavesTheTenSpaces) {
  AnswerSettings(server, Settings("", "V1.0"));
  EXPECT_EQ(Run().announcement, "          ");
}

TEST_F(StartupTest, UnreadableSettingsAreReportedAsNoConnectionNotAsANewVersion) {
  const std::vector<std::string> answers = {
      LoopbackListener::Response("200 OK", ""),                         // no rows
      LoopbackListener::Response("200 OK", ToGbk("1い2い3い4い5い6")),  // no record 1
      LoopbackListener::Response("200 OK", Exactly({"1", "2", "3"})),   // too few fields
      LoopbackListener::Response("503 Service Unavailable", Rows(Settings("a", "V1.0"))),
  };
  for (const std::string& answer : answers) {
    notices.clear();
    server.settings_answer = answer;
    const StartupResult result = Run();
    EXPECT_FALSE(result.show_main) << answer;
    EXPECT_EQ(result.announcement, std::nullopt) << answer;
    EXPECT_EQ(notices, std::vector<Notice>({kNotAnswering})) << answer;
  }
  EXPECT_TRUE(opened.empty());

  // The announcement readable but no version field: still no connection.
  notices.clear();
  server.settings_answer =
      LoopbackListener::Response("200 OK", Exactly({"1", "2", "3", "only the announcement"}));
  const StartupResult result = Run();
  EXPECT_EQ(result.announcement, "only the announcement          ");
  EXPECT_EQ(notices, std::vector<Notice>({kNotAnswering}));
}

TEST_F(StartupTest, AnUnreachableServerEndsWithOneMessageAndOpensNothing) {
  const std::string nowhere =
      "http://127.0.0.1:" + std::to_string(LoopbackListener::ClosedPort()) + "/asp/index.asp";
  const StartupResult result = Run(Services(nowhere));
  EXPECT_FALSE(result.show_main);
  EXPECT_EQ(notices, std::vector<Notice>({kNotAnswering}));
  EXPECT_TRUE(opened.empty());
}

// Offered the choice, the user goes on without the server: the window shows
// and says so. Asked again later, a server still away changes nothing and
// says nothing; one that answers gets the same checks as at start-up.
TEST_F(StartupTest, WithoutTheServerTheUserMayGoOnOfflineUntilItAnswers) {
  const std::string nowhere =
      "http://127.0.0.1:" + std::to_string(LoopbackListener::ClosedPort()) + "/asp/index.asp";
  ClientServices services = Services(nowhere);
  std::vector<std::string> choices;
  services.offer_choice = [&](const Notice& notice, const std::string& choice) {
    notices.push_back(notice);
    choices.push_back(choice);
    return true;
  };
  StartupResult result = Run(services);
  EXPECT_TRUE(result.show_main);
  EXPECT_TRUE(result.offline);
  EXPECT_EQ(result.announcement, std::string(kOfflineAnnouncement) + "          ");
  EXPECT_EQ(notices, std::vector<Notice>({kNotAnswering}));
  EXPECT_EQ(choices, std::vector<std::string>({"离线编辑"}));

  result = Reconnect(services);
  EXPECT_TRUE(result.offline);
  EXPECT_TRUE(result.show_main);
  EXPECT_EQ(result.announcement, std::nullopt);
  EXPECT_EQ(notices.size(), 1u);

  server.ownership_answer = LoopbackListener::Response("200 OK", Rows({kMachine, "mine"}));
  result = Reconnect(Services(server.Address()));
  EXPECT_FALSE(result.offline);
  EXPECT_TRUE(result.show_main);
  EXPECT_EQ(result.announcement, "你好          ");
  EXPECT_EQ(result.owned_name, "mine");

  AnswerSettings(server, Settings("你好", "V2.0"));
  result = Reconnect(Services(server.Address()));
  EXPECT_FALSE(result.show_main);
  EXPECT_EQ(notices, std::vector<Notice>({kNotAnswering, kNewVersion}));
  EXPECT_EQ(opened, std::vector<std::string>({"http://dl.example/heartpage"}));

  // Declined, the program ends as it did before the choice was offered.
  services.offer_choice = [](const Notice&, const std::string&) { return false; };
  EXPECT_FALSE(Run(services).show_main);
}

// A mistyped host is told as such, before anything is sent or locked.
TEST_F(StartupTest, AMalformedHostIsNamedAndNothingIsAsked) {
  for (const char* host : {"htp://127.0.0.1:8936", "127.0.0.1:89360", "127.0.0.l:8936"}) {
    notices.clear();
    setenv("HEARTPAGE_HOST", host, 1);
    bool claimed = false;
    ::testing::internal::CaptureStderr();
    const StartupResult result = RunStartup(Services(server.Address()), [&] {
      claimed = true;
      return true;
    });
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("HEARTPAGE_HOST");
    EXPECT_FALSE(result.show_main) << host;
    EXPECT_EQ(result.exit_status, 2) << host;
    EXPECT_FALSE(claimed) << host;
    EXPECT_EQ(err.find("heartpage: HEARTPAGE_HOST=" + std::string(host) + ": "), 0u) << err;
    ASSERT_EQ(notices.size(), 1u) << host;
    EXPECT_NE(notices[0].text.find("HEARTPAGE_HOST"), std::string::npos);
    EXPECT_NE(notices[0].text.find(host), std::string::npos);
  }
  EXPECT_TRUE(server.Bodies().empty());
}

TEST_F(StartupTest, ASecondInstanceSaysSoAndAsksNothing) {
  another_instance = true;
  const StartupResult result = Run();
  EXPECT_FALSE(result.show_main);
  EXPECT_EQ(notices, std::vector<Notice>(
                         {{"程序已经运行,不能再次装载！", "提示", NoticeIcon::kExclamation}}));
  EXPECT_TRUE(server.Bodies().empty());
}

// Against the real publishing server: its own settings row, and the name
// each machine published under, whatever its identifier holds (zero padding,
// tabs, spaces, quotes), recognised at the next start.
TEST(StartupAgainstServer, ReadsTheAnnouncementAndThePublishedName) {
  testing::TempDir data;
  testing::ServerProcess server(HEARTPAGE_SERVER, data.path());
  const std::string endpoint = "http://" + server.host() + "/asp/index.asp";
  const Poster post = [&](const std::string& body) { return PostFormChecked(endpoint, body); };
  const std::string machines[] = {kMachine, std::string("WD-WX41\0\0\0\0\0\0", 13), "VB\t1 '2'",
                                  std::string(199, ' ') + "\0"};
  // The server publishes only pages the program builds for its address.
  const HostAddress host = ParseHost(server.host());
  const std::string page = BuildPage(1, FieldMap::Defaults(GetStyle(1)), host);
  int published = 0;
  for (const std::string& machine : machines) {
    const std::string name = "ours" + std::to_string(++published);
    const UploadOutcome upload = Upload(name, false, page, {post, [&] { return machine; }});
    ASSERT_TRUE(upload.uploaded) << upload.status << " for machine " << published;

    ClientServices services;
    services.post = [&](const std::string& body, const PostLimits&) { return post(body); };
    services.machine_id = [&] { return machine; };
    services.show_notice = [](const Notice& notice) { ADD_FAILURE() << notice.text; };
    services.open_target = [](const std::string& target) {
      ADD_FAILURE() << target;
      return false;
    };
    const StartupResult result = RunStartup(services, [] { return true; });
    EXPECT_TRUE(result.show_main);
    ASSERT_TRUE(result.announcement);
    EXPECT_GT(result.announcement->size(), kAnnouncementGap.size());
    EXPECT_TRUE(result.announcement->ends_with(kAnnouncementGap));
    EXPECT_EQ(result.owned_name, name) << "machine " << published;
  }
}

TEST(ScrollOnce, MovesOneCharacterToTheEnd) {
  EXPECT_EQ(ScrollOnce("xyz"), "yzx");
  EXPECT_EQ(ScrollOnce(ScrollOnce("xyz")), "zxy");
  EXPECT_EQ(ScrollOnce("公告"), "告公");
  EXPECT_EQ(ScrollOnce("x"), "x");
  EXPECT_EQ(ScrollOnce(""), "");
  EXPECT_EQ(ScrollOnce("😀表白"), "表白😀") << "outside the BMP: one character";
  EXPECT_EQ(ScrollOnce("\xE5\x85"
                       "ab"),
            "\x85"
            "ab\xE5")
      << "broken UTF-8 moves bytewise";
}

}  // namespace
}  // namespace heartpage
