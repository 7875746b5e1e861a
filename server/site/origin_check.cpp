#include "server/site/origin_check.h"

#include "server/site/http_util.h"

namespace heartpage::server {

bool SentByWebPage(const boost::beast::http::fields& headers) {
  namespace http = boost::beast::http;
  if (headers.find(http::field::origin) != headers.end()) return true;
  // "none" is a request the user made themself, such as an address typed in.
  const auto site = headers.find("Sec-Fetch-Site");
  return site != headers.end() && !EqualsIgnoringCase(site->value(), "none");
}

}  // namespace heartpage::server
