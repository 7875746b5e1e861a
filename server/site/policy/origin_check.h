#pragma once

#include <boost/beast/http/fields.hpp>

#include <string>
#include <string_view>

namespace heartpage::server {

// Whether a request was made by a web page rather than by the program: a
// browser names the page's origin (Origin) or where the request comes from
// (Sec-Fetch-Site) on every POST, and the program sends neither. A page
// published here, or anywhere, must not drive the endpoint from its
// visitors' browsers.
bool SentByWebPage(const boost::beast::http::fields& headers);

// The host of "host", "host:port" or "[v6]:port", small letters.
std::string HostOfAuthority(std::string_view authority);

// Whether a browser's Origin names this site: its host as the request was
// sent to it, or as the site is known (`public_host`). Ports are not
// compared: a proxy in front may pass the host on without the port the
// browser used.
bool FromThisSite(std::string_view origin, std::string_view host, std::string_view public_host);

// Whether a POST may be taken as sent by one of the site's own forms (the
// report form, the page that asks for a page's code) or by a client that is
// no browser: never from another site's page behind it, which could post in
// its visitors' names unseen, nor from a page in an origin of its own ("Origin:
// null"), as published pages are.
bool PostedByThisSite(const boost::beast::http::fields& headers, std::string_view public_host);

}  // namespace heartpage::server
