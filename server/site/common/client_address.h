#pragma once

#include <boost/asio/ip/address.hpp>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace heartpage::server {

// The address a request comes from, for limits and the log. Behind a reverse
// proxy every peer is the proxy, so its X-Forwarded-For is believed, but only
// when the peer is one of `trusted_proxies`: anyone else could write any
// address there. The list is read from the right, skipping our own proxies;
// the first other entry is the client. A malformed entry stops the walk at
// the last address that vouched for it.
std::string ClientAddress(std::string_view peer, std::string_view forwarded_for,
                          const std::vector<std::string>& trusted_proxies);
// The same for a header with several X-Forwarded-For lines, in the order
// they came: one list, as if joined by commas. A proxy that adds a line of
// its own rather than appending to the client's puts it last, so the
// client's lines stand left of it and can name nobody.
std::string ClientAddress(std::string_view peer, std::span<const std::string_view> forwarded_for,
                          const std::vector<std::string>& trusted_proxies);

// What every per-client limit counts a client under: an IPv4 address whole
// (as its v4-mapped form), an IPv6 one by its /64, since one subscriber is
// handed a whole /64 and may pick any address in it.
using ClientKey = std::array<unsigned char, 16>;
ClientKey LimitKeyOf(const boost::asio::ip::address& client);

// The same for `client` as text (a ClientAddress): "192.0.2.1",
// "2001:db8:1:2::/64"; what is not an address, as it is.
std::string LimitKey(std::string_view client);

// An IPv4 or IPv6 address in its canonical text form; empty when `text` is
// not one.
std::string CanonicalAddress(std::string_view text);

}  // namespace heartpage::server
