#pragma once

#include <filesystem>
#include <memory>

namespace boost::asio::ssl {
class context;
}

namespace heartpage::server {

// A TLS server context holding the certificate chain and private key read
// from two PEM files, with the settings this server uses: TLS 1.2 and 1.3
// only, forward-secret AEAD ciphers, no compression or renegotiation.
// Throws std::runtime_error saying what is wrong, a key that does not belong
// to the certificate included.
std::shared_ptr<boost::asio::ssl::context> LoadTlsContext(const std::filesystem::path& certificate,
                                                          const std::filesystem::path& key);

}  // namespace heartpage::server
