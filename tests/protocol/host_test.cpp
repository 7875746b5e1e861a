#include "protocol/host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

namespace heartpage {
namespace {

class HostTest : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("HEARTPAGE_HOST"); }
};

TEST_F(HostTest, AddressesFollowTheConfiguredHost) {
  unsetenv("HEARTPAGE_HOST");
  const std::string compiled = PublishingHost();
  EXPECT_FALSE(compiled.empty());
  EXPECT_EQ(EndpointAddress(), "http://" + compiled + "/asp/index.asp");

  setenv("HEARTPAGE_HOST", "pages.example.test:8080", 1);
  EXPECT_EQ(EndpointAddress(), "http://pages.example.test:8080/asp/index.asp");
  EXPECT_EQ(PageAddress("mine"), "http://pages.example.test:8080/Test/mine");
  EXPECT_EQ(HomeAddress(), "http://pages.example.test:8080/");

  setenv("HEARTPAGE_HOST", "", 1);  // empty means not set
  EXPECT_EQ(PublishingHost(), compiled);

  // An https host keeps its scheme in every address; the host alone is
  // what a server listens on.
  setenv("HEARTPAGE_HOST", "HTTPS://pages.example.test:8443/", 1);
  EXPECT_EQ(PublishingHost(), "pages.example.test:8443");
  EXPECT_EQ(EndpointAddress(), "https://pages.example.test:8443/asp/index.asp");
  EXPECT_EQ(PageAddress("mine"), "https://pages.example.test:8443/Test/mine");
  EXPECT_EQ(HomeAddress(), "https://pages.example.test:8443/");
  setenv("HEARTPAGE_HOST", "http://pages.example.test", 1);
  EXPECT_EQ(EndpointAddress(), "http://pages.example.test/asp/index.asp");
  EXPECT_EQ(ParseHost("h:1"), (HostAddress{"http", "h:1"}));
  EXPECT_EQ(ParseHost("https://h"), (HostAddress{"https", "h"}));
}

TEST_F(HostTest, BindHostReplacesEveryToken) {
  setenv("HEARTPAGE_HOST", "h:1", 1);
  EXPECT_EQ(BindHost("http://{publishing-host}/a http://{publishing-host}/b"),
            "http://h:1/a http://h:1/b");
  EXPECT_EQ(BindHost("no token"), "no token");
  EXPECT_EQ(BindHost(""), "");
  EXPECT_EQ(BindHost("{publishing-host}"), "h:1");

  setenv("HEARTPAGE_HOST", "https://h:2", 1);
  EXPECT_EQ(BindHost("src=\"http://{publishing-host}/biaobai/x.js\" {publishing-host}"),
            "src=\"https://h:2/biaobai/x.js\" h:2");
}

// Every host a server can be reached at passes; each slip says what is wrong
// with it rather than making an address nobody answers at.
TEST(CheckHost, NamesWhatIsWrongWithAHostAndPassesEveryUsableOne) {
  for (const char* host : {"127.0.0.1:8936", "localhost", "pages.example.test:65535",
                           "https://Pages.Example/", "HTTP://10.0.0.2:1", "[::1]:8936", "[fe80::1]",
                           "例子.测试:80", "my_host-2.lan", "1.2.3.example.com", "v1.0.host"})
    EXPECT_FALSE(CheckHost(host)) << host;
  const std::vector<std::pair<const char*, const char*>> bad = {
      {"htp://127.0.0.1:8936", "scheme"},
      {"ftp://h", "scheme"},
      {"127.0.0.1:89360", "port"},
      {"h:0", "port"},
      {"h:", "port"},
      {"h:80a", "port"},
      {"127.0.0.l:8936", "IPv4"},
      {"127.0.0.256", "IPv4"},
      {"10.0.1", "IPv4"},
      {"127.0.0.1.1", "IPv4"},
      {"evil host", "letters"},
      {"h/asp", "follow"},
      {"user@h", "follow"},
      {"::1", "brackets"},
      {"[::1:80", "brackets"},
      {"", "no host"},
      {"https://", "no host"},
      {"127.0.0.1：8936", "full-width \"：\" after \"127.0.0.1\""},
      {"例子。测试", "full-width"},
  };
  for (const auto& [host, reason] : bad) {
    const auto problem = CheckHost(host);
    ASSERT_TRUE(problem) << host;
    EXPECT_NE(problem->english.find(reason), std::string::npos) << host << ": " << problem->english;
    EXPECT_FALSE(problem->chinese.empty());
  }
}

TEST(WebAddress, OnlyHttpAndHttpsAddressesWithAHostAreOpened) {
  for (const char* address :
       {"http://dl.example/new", "https://dl.example:8443/a?b=1#c", "HTTP://127.0.0.1:8936/",
        "http://[::1]:80/download", "https://例子.测试/下载", "http://h"})
    EXPECT_TRUE(IsWebAddress(address)) << address;
  for (const char* address :
       {"file:///etc/passwd", "FILE:///home/u/a.desktop", "javascript:alert(1)",
        "ftp://dl.example/x", "smb://host/share", "/usr/bin/xterm", "dl.example/new",
        "http:/dl.example", "http://", "http:///etc/passwd", "http://user@evil.example/",
        "http://a b/", "http://dl.example/\n", "http://h:/x", "http://h:123456/",
        " http://dl.example/", "-http://x", "http://[::1/", ""})
    EXPECT_FALSE(IsWebAddress(address)) << address;
}

}  // namespace
}  // namespace heartpage
