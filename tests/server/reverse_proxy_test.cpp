// The server behind nginx, configured by the file the operator's guide tells
// operators to install: publishing and reading pages through the proxy.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/server/built_page.h"
#include "tests/support/loopback_listener.h"
#include "tests/support/server_harness.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using namespace testing;

std::string Replace(std::string text, std::string_view placeholder, std::string_view value) {
  for (std::size_t at; (at = text.find(placeholder)) != std::string::npos;)
    text.replace(at, placeholder.size(), value);
  return text;
}

// nginx in the foreground, everything it writes under its own folder, the
// repository's site configuration included with the ports filled in.
class Nginx : public ChildProcess {
 public:
  Nginx(const std::filesystem::path& prefix, int port, int upstream_port)
      : ChildProcess(Prepare(prefix, port, upstream_port)) {
    // nginx reports the descriptor limit after it has opened its listening
    // socket: from then on connections wait in its backlog.
    if (!WaitForLog(
            [](const std::string& line) { return line.find("getrlimit") != std::string::npos; }))
      throw std::runtime_error("nginx did not start: " + Log());
  }

 private:
  static std::vector<std::string> Prepare(const std::filesystem::path& prefix, int port,
                                          int upstream_port) {
    std::stringstream site;
    site << std::ifstream(HEARTPAGE_NGINX_SITE).rdbuf();
    std::ofstream(prefix / "site.conf")
        << Replace(Replace(site.str(), "@LISTEN@", "127.0.0.1:" + std::to_string(port)),
                   "@UPSTREAM_PORT@", std::to_string(upstream_port));
    const std::string dir = prefix.string();
    std::ofstream(prefix / "nginx.conf")
        << "daemon off;\nmaster_process off;\npid " << dir << "/nginx.pid;\n"
        << "error_log stderr notice;\nevents { worker_connections 64; }\nhttp {\n"
        << "  access_log off;\n"
        << "  client_body_temp_path " << dir << "/body;\n  proxy_temp_path " << dir
        << "/proxy;\n  fastcgi_temp_path " << dir << "/fastcgi;\n  uwsgi_temp_path " << dir
        << "/uwsgi;\n  scgi_temp_path " << dir << "/scgi;\n"
        << "  include " << dir << "/site.conf;\n}\n";
    return {HEARTPAGE_NGINX, "-p", dir, "-e", "stderr", "-c", dir + "/nginx.conf"};
  }
};

TEST(ReverseProxyTest, PublishesAndServesThroughNginx) {
  ScratchDir data;
  ScratchDir assets;
  ScratchDir prefix;
  std::filesystem::create_directories(assets.path() / "fg2");
  std::ofstream(assets.path() / "fg2" / "love.js") << "var love = 1;";
  const int port = heartpage::testing::LoopbackListener::ClosedPort();
  const std::string public_host = "127.0.0.1:" + std::to_string(port);
  ServerProcess server(data.path(),
                       {"--assets", assets.path().string(), "--public-host", public_host});
  Nginx nginx(prefix.path(), port, server.port());

  const auto settings = Post(port, QueryBody("select * from 系统设置"));
  EXPECT_EQ(settings.status, 200);
  EXPECT_NE(FromGbk(settings.body).find("http://" + public_host + "/download"), std::string::npos);
  EXPECT_EQ(FromGbk(Post(port, NameLookup("proxied")).body), "");
  ASSERT_EQ(Post(port, ClaimBody("m-1", "proxied")).status, 200);
  EXPECT_NE(FromGbk(Post(port, NameLookup("proxied")).body).find("proxied"), std::string::npos);
  std::string words;
  while (words.size() < 16 * 1024) words += "亲爱的 ❤ 第1行 ";
  const std::string page = BuiltPage(public_host, words);
  ASSERT_EQ(Post(port, StoreBody("m-1", "proxied", page)).status, 200);

  // Pages and assets, on one kept-alive connection as a browser reads them.
  HttpConnection browser(port);
  ASSERT_TRUE(browser.Send(testing::GetRequest("/Test/proxied")));
  const auto served = browser.Read();
  ASSERT_TRUE(served.has_value());
  EXPECT_EQ(served->status, 200);
  EXPECT_EQ(served->body, ToGbk(page));
  EXPECT_NE(served->Header("content-security-policy")
                .find("script-src 'unsafe-inline' http://" + public_host + "/biaobai/;"),
            std::string::npos);
  ASSERT_TRUE(browser.Send(testing::GetRequest("/biaobai/FG2/love.js")));
  const auto asset = browser.Read();
  ASSERT_TRUE(asset.has_value());
  EXPECT_EQ(asset->body, "var love = 1;");
  EXPECT_EQ(Get(port, "/Test/nothere").status, 404);

  // A body past the server's limit is refused by nginx before it is sent.
  EXPECT_EQ(
      Exchange(port, "POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nContent-Length: 8388609\r\n\r\n")
          .status,
      413);

  // The report form's post, as a browser sends it: nginx passes the host on
  // without the port the browser names in Origin.
  const std::string report = "page=proxied&reason=spam";
  EXPECT_EQ(Exchange(port, "POST /report HTTP/1.1\r\nHost: " + public_host + "\r\nOrigin: http://" +
                               public_host +
                               "\r\nSec-Fetch-Site: same-origin\r\n"
                               "Content-Type: application/x-www-form-urlencoded\r\n"
                               "Content-Length: " +
                               std::to_string(report.size()) + "\r\n\r\n" + report)
                .status,
            200);
}

}  // namespace
}  // namespace heartpage::server
