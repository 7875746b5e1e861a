#include "server/http/listen_address.h"

#include <algorithm>
#include <stdexcept>

namespace heartpage::server {

ListenAddress ParseListenAddress(std::string_view listen) {
  const auto malformed = [&] {
    return std::runtime_error("malformed address " + std::string(listen));
  };
  ListenAddress address{std::string(listen), "80"};
  if (listen.starts_with('[')) {
    const std::size_t close = listen.find(']');
    if (close == std::string_view::npos) throw malformed();
    address.host = listen.substr(1, close - 1);
    if (close + 1 < listen.size()) {
      if (listen[close + 1] != ':') throw malformed();
      address.port = listen.substr(close + 2);
    }
  } else if (const std::size_t colon = listen.rfind(':'); colon != std::string_view::npos) {
    address.host = listen.substr(0, colon);
    address.port = listen.substr(colon + 1);
  }
  const std::string& port = address.port;
  if (address.host.empty() || port.empty() || port.size() > 5 ||
      !std::ranges::all_of(port, [](char c) { return c >= '0' && c <= '9'; }) ||
      std::stoi(port) > 65535)
    throw malformed();
  return address;
}

boost::asio::ip::tcp::endpoint ResolveListen(boost::asio::io_context& ioc,
                                             std::string_view listen) {
  using tcp = boost::asio::ip::tcp;
  const ListenAddress address = ParseListenAddress(listen);
  tcp::resolver resolver(ioc);
  boost::system::error_code ec;
  const auto results =
      resolver.resolve(address.host, address.port, tcp::resolver::numeric_service, ec);
  if (ec || results.empty())
    throw std::runtime_error("cannot resolve " + address.host + ": " + ec.message());
  return results.begin()->endpoint();
}

}  // namespace heartpage::server
