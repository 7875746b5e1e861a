#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/loopback_listener.h"
#include "tests/support/server_process.h"

namespace heartpage::testing {

// A certificate for 127.0.0.1 and its key, made at test time in a folder of
// their own (removed at the end); no other certificate signs it.
class TestCertificate {
 public:
  TestCertificate() {
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
        key().string() + "' -out '" + certificate().string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl req failed");
  }
  std::filesystem::path certificate() const { return folder_.path() / "cert.pem"; }
  std::filesystem::path key() const { return folder_.path() / "key.pem"; }

 private:
  TempDir folder_;
};

// LoopbackListener's HTTPS twin: one thread, a free loopback port, TLS with
// the given certificate, every request that arrives through a completed
// handshake recorded and answered by the handler.
class TlsLoopbackListener {
 public:
  using Handler = LoopbackListener::Handler;

  TlsLoopbackListener(const TestCertificate& identity, Handler handler)
      : handler_(std::move(handler)), context_(SSL_CTX_new(TLS_server_method())) {
    if (context_ == nullptr ||
        SSL_CTX_use_certificate_chain_file(context_, identity.certificate().c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, identity.key().c_str(), SSL_FILETYPE_PEM) != 1)
      throw std::runtime_error("cannot load the test certificate");
    // A client that hangs up mid-answer must not end the test program.
    std::signal(SIGPIPE, SIG_IGN);
    accepting_.Start([this](int fd) { Serve(fd); });
  }

  ~TlsLoopbackListener() {
    accepting_.Stop();
    SSL_CTX_free(context_);
  }

  // "https://127.0.0.1:port", the publishing host to configure.
  std::string Host() const { return "https://127.0.0.1:" + std::to_string(accepting_.port()); }
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void Serve(int fd) {
    SSL* ssl = SSL_new(context_);
    SSL_set_fd(ssl, fd);
    // A client that refuses the certificate ends the handshake here.
    if (SSL_accept(ssl) == 1) Exchange(ssl);
    SSL_free(ssl);
    ERR_clear_error();
    close(fd);
  }

  void Exchange(SSL* ssl) {
    const std::optional<std::string> request =
        LoopbackListener::ReadRequestWith([ssl](char* buffer, std::size_t size) {
          return static_cast<long>(SSL_read(ssl, buffer, static_cast<int>(size)));
        });
    if (!request) return;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(*request);
    }
    const std::optional<std::string> response = handler_(*request);
    if (!response) return;
    SSL_write(ssl, response->data(), static_cast<int>(response->size()));
    SSL_shutdown(ssl);
  }

  Handler handler_;
  SSL_CTX* context_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  AcceptLoop accepting_;
};

}  // namespace heartpage::testing
