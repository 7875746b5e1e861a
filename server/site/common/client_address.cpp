#include "server/site/common/client_address.h"
#include "text/utf8.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>

namespace heartpage::server {
namespace {

std::string_view Trim(std::string_view text) {
  return Trimmed(text, kHeaderBlanks);
}

bool Trusted(const std::string& address, const std::vector<std::string>& trusted_proxies) {
  return std::ranges::find(trusted_proxies, address) != trusted_proxies.end();
}

}  // namespace

std::string CanonicalAddress(std::string_view text) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(std::string(text), ec);
  if (ec) return {};
  // A v4 client seen through a v6 socket is still the v4 client.
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, address.to_v6())
        .to_string();
  return address.to_string();
}

ClientKey LimitKeyOf(const boost::asio::ip::address& client) {
  if (client.is_v4())
    return boost::asio::ip::make_address_v6(boost::asio::ip::v4_mapped, client.to_v4()).to_bytes();
  ClientKey key = client.to_v6().to_bytes();
  if (!client.to_v6().is_v4_mapped()) std::fill(key.begin() + 8, key.end(), 0);
  return key;
}

std::string LimitKey(std::string_view client) {
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(std::string(client), ec);
  if (ec) return std::string(client);
  const boost::asio::ip::address_v6 key(LimitKeyOf(address));
  if (key.is_v4_mapped())
    return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, key).to_string();
  return key.to_string() + "/64";
}

std::string ClientAddress(std::string_view peer, std::string_view forwarded_for,
                          const std::vector<std::string>& trusted_proxies) {
  std::string client = CanonicalAddress(peer);
  if (client.empty()) client = std::string(peer);
  while (Trusted(client, trusted_proxies) && !forwarded_for.empty()) {
    const std::size_t comma = forwarded_for.rfind(',');
    const std::string_view entry =
        Trim(comma == std::string_view::npos ? forwarded_for : forwarded_for.substr(comma + 1));
    forwarded_for =
        comma == std::string_view::npos ? std::string_view() : forwarded_for.substr(0, comma);
    std::string next = CanonicalAddress(entry);
    if (next.empty()) break;
    client = std::move(next);
  }
  return client;
}

std::string ClientAddress(std::string_view peer, std::span<const std::string_view> forwarded_for,
                          const std::vector<std::string>& trusted_proxies) {
  std::string joined;
  for (const std::string_view line : forwarded_for) {
    // An empty line would read as a malformed entry and stop the walk at
    // the proxy.
    if (Trim(line).empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += line;
  }
  return ClientAddress(peer, joined, trusted_proxies);
}

}  // namespace heartpage::server
