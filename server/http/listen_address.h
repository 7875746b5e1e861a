#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <string>
#include <string_view>

namespace heartpage::server {

struct ListenAddress {
  std::string host;
  std::string port;
};

// "host:port", "[v6]:port" or "host" (port 80). Throws std::runtime_error for
// anything else, a port past 65535 included.
ListenAddress ParseListenAddress(std::string_view listen);

// The address to bind for `listen`; numeric ports only, host names resolved.
boost::asio::ip::tcp::endpoint ResolveListen(boost::asio::io_context& ioc, std::string_view listen);

}  // namespace heartpage::server
