// HTTPS served by the server itself: answers over TLS, a plain-HTTP client
// on the HTTPS port, a renewed certificate taken up without a restart, and
// clients that never finish their handshakes or bodies.

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "tests/server/built_page.h"
#include "tests/support/server_harness.h"
#include "tests/support/tls_listener.h"
#include "text/gbk.h"

namespace heartpage::server {
namespace {

using heartpage::testing::TestCertificate;
using namespace testing;

// A connection that trusts exactly one certificate: it works only when the
// server presents that one. `tls12_ciphers`: speak TLS 1.2, offering these
// in this order.
class TlsConnection final : public HttpConnection {
 public:
  TlsConnection(int port, const std::filesystem::path& trusted, const char* tls12_ciphers = nullptr,
                const std::string& source = "127.0.0.1")
      : HttpConnection(port, source), context_(SSL_CTX_new(TLS_client_method())) {
    if (tls12_ciphers != nullptr) {
      SSL_CTX_set_max_proto_version(context_, TLS1_2_VERSION);
      SSL_CTX_set_cipher_list(context_, tls12_ciphers);
    }
    SSL_CTX_load_verify_locations(context_, trusted.c_str(), nullptr);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd());
    if (SSL_connect(ssl_) != 1) {
      // No destructor runs for a constructor that throws.
      SSL_free(ssl_);
      SSL_CTX_free(context_);
      throw std::runtime_error("TLS handshake failed");
    }
  }
  ~TlsConnection() override {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
  }

  std::string Cipher() const { return SSL_get_cipher_name(ssl_); }

 private:
  long Transmit(const char* data, std::size_t size) override {
    return SSL_write(ssl_, data, static_cast<int>(size));
  }
  long Receive(char* data, std::size_t size) override {
    return SSL_read(ssl_, data, static_cast<int>(size));
  }

  SSL_CTX* context_;
  SSL* ssl_ = nullptr;
};

class TlsTest : public ::testing::Test {
 protected:
  // Where the server reads its certificate and key.
  std::filesystem::path Cert() const { return keys_.path() / "server.crt"; }
  std::filesystem::path Key() const { return keys_.path() / "server.key"; }
  void Install(const TestCertificate& certificate, const TestCertificate& key) {
    const auto overwrite = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(certificate.certificate(), Cert(), overwrite);
    std::filesystem::copy_file(key.key(), Key(), overwrite);
  }
  std::vector<std::string> TlsFlags() const {
    return {"--tls-cert", Cert().string(), "--tls-key", Key().string()};
  }

  ScratchDir data_;
  ScratchDir keys_;
};

TEST_F(TlsTest, PublishesAndServesOverHttpsAndRefusesPlainHttpCleanly) {
  const TestCertificate first;
  Install(first, first);
  std::vector<std::string> flags = TlsFlags();
  flags.insert(flags.end(), {"--idle-timeout", "2", "--hsts", "600"});
  ServerProcess server(data_.path(), flags);
  const int port = server.port();

  // A large page goes through TLS records rather than from its file.
  std::string words;
  while (words.size() < 200 * 1024) words += "亲爱的 ❤ 第1行 ";
  const std::string page = BuiltPage("https://127.0.0.1:" + std::to_string(port), words);
  {
    TlsConnection tls(port, first.certificate());
    for (const std::string& body : {QueryBody("select * from 系统设置"), ClaimBody("m-1", "secure"),
                                    StoreBody("m-1", "secure", page)}) {
      ASSERT_TRUE(tls.Send(PostRequest(body)));
      const auto answer = tls.Read();
      ASSERT_TRUE(answer.has_value());
      EXPECT_EQ(answer->status, 200) << answer->body;
      EXPECT_EQ(answer->Header("strict-transport-security"), "max-age=600");
      // Addresses handed out name the scheme clients came with.
      if (body.starts_with("zc=49")) {
        EXPECT_NE(answer->body.find("https://127.0.0.1:" + std::to_string(port) + "/"),
                  std::string::npos);
      }
    }
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(tls.Send(GetRequest("/Test/secure")));
      const auto served = tls.Read();
      ASSERT_TRUE(served.has_value());
      EXPECT_EQ(served->status, 200);
      EXPECT_EQ(served->body, ToGbk(page));
      EXPECT_EQ(served->Header("strict-transport-security"), "max-age=600");
    }
  }
  // The server's order of ciphers wins over the client's.
  EXPECT_NE(TlsConnection(port, first.certificate(),
                          "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305:"
                          "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256")
                .Cipher()
                .find("AES128-GCM"),
            std::string::npos);

  // Plain HTTP on the HTTPS port: a short refusal, then the connection ends.
  HttpConnection plain(port);
  ASSERT_TRUE(plain.Send(GetRequest("/Test/secure")));
  const auto refused = plain.Read();
  ASSERT_TRUE(refused.has_value());
  EXPECT_EQ(refused->status, 400);
  EXPECT_EQ(refused->Header("strict-transport-security"), "");
  EXPECT_TRUE(plain.ClosedByServer());
  // Nor can a client that never starts the handshake hold a connection.
  HttpConnection silent(port);
  EXPECT_TRUE(silent.ClosedByServer());

  TlsConnection after(port, first.certificate());
  ASSERT_TRUE(after.Send(GetRequest("/Test/secure", "Connection: close\r\n")));
  EXPECT_EQ(after.Read().value_or(testing::HttpResponse{}).body, ToGbk(page));
}

TEST_F(TlsTest, SighupTakesUpARenewedCertificateAndKeepsTheOldOneForABadPair) {
  const TestCertificate first, second;
  Install(first, first);
  ServerProcess server(data_.path(), TlsFlags());
  const int port = server.port();
  TlsConnection open(port, first.certificate());

  // The renewed certificate with the old key: refused, the old pair kept.
  Install(second, first);
  server.Signal(SIGHUP);
  EXPECT_TRUE(server.WaitForLogWith("keeping the current certificate"));
  EXPECT_NO_THROW(TlsConnection(port, first.certificate()));

  Install(second, second);
  server.Signal(SIGHUP);
  EXPECT_TRUE(server.WaitForLogWith("reloaded"));
  EXPECT_THROW(TlsConnection(port, first.certificate()), std::runtime_error);
  TlsConnection renewed(port, second.certificate());
  ASSERT_TRUE(renewed.Send(PostRequest(QueryBody("select * from 系统设置"))));
  EXPECT_EQ(renewed.Read().value_or(testing::HttpResponse{}).status, 200);
  // A connection made before goes on with the certificate it began with.
  ASSERT_TRUE(open.Send(PostRequest(QueryBody("select * from 系统设置"))));
  EXPECT_EQ(open.Read().value_or(testing::HttpResponse{}).status, 200);
}

// At the connection limit, clients that never start their handshakes and
// clients that send their bodies at a trickle make way for one that asks
// for a page; none of them is ever answered in plain text.
TEST_F(TlsTest, AFreshClientIsServedBesideStalledHandshakesAndBodiesAtTheCap) {
  const TestCertificate certificate;
  Install(certificate, certificate);
  std::vector<std::string> flags = TlsFlags();
  flags.insert(flags.end(), {"--max-connections", "32", "--max-connections-per-address", "8",
                             "--max-handshakes-per-address", "4"});
  ServerProcess server(data_.path(), flags);
  const int port = server.port();
  // Past its share of handshakes, an address is closed without a word: a
  // TLS client could not read plain text.
  std::vector<std::unique_ptr<HttpConnection>> crowd;
  for (int i = 0; i < 4; ++i) crowd.push_back(std::make_unique<HttpConnection>(port, "127.0.0.6"));
  HttpConnection over_share(port, "127.0.0.6");
  EXPECT_TRUE(over_share.ClosedByServer());
  EXPECT_TRUE(server.WaitForLogLine("- - 503 0 ", " 127.0.0.6"));

  for (int address = 2; address <= 5; ++address) {
    const std::string from = "127.0.0." + std::to_string(address);
    for (int i = 0; i < 4; ++i) {
      crowd.push_back(
          std::make_unique<TlsConnection>(port, certificate.certificate(), nullptr, from));
      // Told to go on, the body has begun: the server waits for the rest.
      ASSERT_TRUE(
          crowd.back()->Send("POST /asp/index.asp HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                             "Content-Length: 1048576\r\n\r\n"));
      ASSERT_EQ(crowd.back()->Read().value_or(HttpResponse{}).status, 100);
      ASSERT_TRUE(crowd.back()->Send(std::string(100, '7')));
    }
    for (int i = 0; i < 4; ++i) crowd.push_back(std::make_unique<HttpConnection>(port, from));
  }

  const auto start = std::chrono::steady_clock::now();
  TlsConnection fresh(port, certificate.certificate(), nullptr, "127.0.0.9");
  ASSERT_TRUE(fresh.Send(GetRequest("/")));
  EXPECT_EQ(fresh.Read().value_or(HttpResponse{}).status, 200);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
}  // namespace heartpage::server
