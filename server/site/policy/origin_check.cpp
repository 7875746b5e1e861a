#include "server/site/policy/origin_check.h"

#include "server/site/common/http_util.h"

namespace heartpage::server {

bool SentByWebPage(const boost::beast::http::fields& headers) {
  namespace http = boost::beast::http;
  if (headers.find(http::field::origin) != headers.end()) return true;
  // "none" is a request the user made themself, such as an address typed in.
  const auto site = headers.find("Sec-Fetch-Site");
  return site != headers.end() && !EqualsIgnoringCase(site->value(), "none");
}

std::string HostOfAuthority(std::string_view authority) {
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  authority = authority.starts_with('[') ? authority.substr(0, authority.find(']') + 1)
                                         : authority.substr(0, authority.find(':'));
  std::string host(authority);
  for (char& c : host)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return host;
}

bool FromThisSite(std::string_view origin, std::string_view host, std::string_view public_host) {
  const std::size_t scheme = origin.find("://");
  if (scheme == std::string_view::npos) return false;
  const std::string ours = HostOfAuthority(origin.substr(scheme + 3));
  if (const std::size_t at = public_host.find("://"); at != std::string_view::npos)
    public_host.remove_prefix(at + 3);
  return !ours.empty() && (ours == HostOfAuthority(host) || ours == HostOfAuthority(public_host));
}

bool PostedByThisSite(const boost::beast::http::fields& headers, std::string_view public_host) {
  namespace http = boost::beast::http;
  const auto fetch_site = headers.find("Sec-Fetch-Site");
  if (fetch_site != headers.end() && !EqualsIgnoringCase(fetch_site->value(), "same-origin") &&
      !EqualsIgnoringCase(fetch_site->value(), "none"))
    return false;
  const auto origin = headers.find(http::field::origin);
  return origin == headers.end() ||
         FromThisSite(origin->value(), headers[http::field::host], public_host);
}

}  // namespace heartpage::server
