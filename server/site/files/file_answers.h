#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "server/site/common/answer.h"

namespace heartpage::server {

// The answers of a stored page (published or a preview) and of an asset
// file, to GET and HEAD, with their validators. Both are sent gzip-compressed
// to clients that accept it when compressed bytes are at hand (a page as its
// cache keeps it, an asset as compressed at start); nothing is compressed
// here. A request with a Range header gets ranges of the uncompressed bytes.
Response ServePage(const Request& request, std::shared_ptr<const StoredPage> page,
                   const Site& site);
// Whether any of the request's Accept-Encoding lines takes gzip.
bool ClientAcceptsGzip(const Request& request);
// The form of a page ServePage sends `request`: the page it is given need
// hold only that one.
PageForm FormFor(const Request& request);
Response ServeAsset(const Request& request, std::string_view path, const Site& site);

// What a published page or a preview may do. Its scripts run in an origin of
// their own, with no cookies or storage, and can send nothing anywhere but
// an opening and an answer to this site's two paths for them, post no form,
// download nothing and open no dialog. Only the site's own
// /biaobai/ scripts and inline ones run: the site stores only pages the
// program builds, so every inline script is a template's. Nothing is framed
// or embedded and no base moves the page's addresses; the templates' links
// may open a new tab, sandboxed as the page is. `frame_ancestors` says who
// may frame the page itself (CSP source expressions).
std::string PageSecurityPolicy(std::string_view public_host, std::string_view frame_ancestors);

}  // namespace heartpage::server
