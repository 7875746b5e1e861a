#pragma once

#include <boost/asio/ip/address.hpp>

#include <memory>

#include "server/http/connection.h"
#include "server/http/server_shared.h"

namespace boost::asio::ssl {
class context;
}

namespace heartpage::server {

// Serve a freshly accepted and admitted connection until it ends, in plain
// HTTP or, after a TLS handshake with the certificate of `tls`, in HTTPS.
void StartSession(Socket&& socket, std::shared_ptr<ServerShared> shared,
                  const boost::asio::ip::address& peer);
void StartTlsSession(Socket&& socket, std::shared_ptr<boost::asio::ssl::context> tls,
                     std::shared_ptr<ServerShared> shared, const boost::asio::ip::address& peer);

}  // namespace heartpage::server
