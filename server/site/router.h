#pragma once

#include <cstddef>

#include "server/site/common/answer.h"

namespace heartpage::server {

Routed WorkOf(const Request& request, const Site& site);

// Turns one whole request into its answer: the form endpoint, published
// pages, page assets and the site pages. A failing storage becomes 503 or
// 500 (StorageFailure). Answers keep the connection open when the request
// allows it, and answers to HEAD carry no body.
// `audit`, when given, learns what an endpoint request asked, and why the
// storage failed any request, for the log.
Response HandleRequest(const Request& request, const Routed& routed, const Site& site,
                       Audit* audit = nullptr);
// Both steps at once, for a caller that has nothing to do between them.
Response HandleRequest(const Request& request, const Site& site, Audit* audit = nullptr);

unsigned StatusOf(const Response& response);
std::size_t BodyBytesOf(const Response& response);

}  // namespace heartpage::server
