#pragma once

#include <boost/beast/http/fields.hpp>

namespace heartpage::server {

// Whether a request was made by a web page rather than by the program: a
// browser names the page's origin (Origin) or where the request comes from
// (Sec-Fetch-Site) on every POST, and the program sends neither. A page
// published here, or anywhere, must not drive the endpoint from its
// visitors' browsers.
bool SentByWebPage(const boost::beast::http::fields& headers);

}  // namespace heartpage::server
