#pragma once

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

// An IPv4 or IPv6 address in its canonical text form; empty when `text` is
// not one.
std::string CanonicalAddress(std::string_view text);

}  // namespace heartpage::server
