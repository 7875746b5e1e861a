#include "server/http/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/ssl/context.hpp>

#include <stdexcept>
#include <string>

namespace heartpage::server {

namespace ssl = boost::asio::ssl;

namespace {

// TLS 1.2 ciphers with forward secrecy and authenticated encryption; TLS 1.3
// has only such ciphers and keeps OpenSSL's defaults.
constexpr const char* kTls12Ciphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

std::string OpenSslError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown OpenSSL error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

}  // namespace

std::shared_ptr<ssl::context> LoadTlsContext(const std::filesystem::path& certificate,
                                             const std::filesystem::path& key) {
  auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
  SSL_CTX* native = context->native_handle();
  SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
  // Every cipher offered is strong, yet the order is ours: a client that
  // lists a weaker one first still gets the strongest both know.
  SSL_CTX_set_options(
      native, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  // An idle connection then holds no TLS buffers: many idle connections cost
  // little memory.
  SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
  if (SSL_CTX_set_cipher_list(native, kTls12Ciphers) != 1)
    throw std::runtime_error("TLS ciphers: " + OpenSslError());
  static constexpr unsigned char kSessionContext[] = "heartpage-server";
  SSL_CTX_set_session_id_context(native, kSessionContext, sizeof kSessionContext - 1);

  ERR_clear_error();
  if (SSL_CTX_use_certificate_chain_file(native, certificate.c_str()) != 1)
    throw std::runtime_error("cannot read the certificate " + certificate.string() + ": " +
                             OpenSslError());
  if (SSL_CTX_use_PrivateKey_file(native, key.c_str(), SSL_FILETYPE_PEM) != 1)
    throw std::runtime_error("cannot read the key " + key.string() + ": " + OpenSslError());
  if (SSL_CTX_check_private_key(native) != 1)
    throw std::runtime_error("the key " + key.string() + " does not belong to the certificate " +
                             certificate.string());
  return context;
}

}  // namespace heartpage::server
