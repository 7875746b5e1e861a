#pragma once

#include <memory>
#include <string_view>

#include "server/site/router.h"

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

}  // namespace heartpage::server
