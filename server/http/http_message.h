#pragma once

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "server/site/responses.h"
#include "server/site/router.h"

// What the connections write and judge of HTTP messages themselves, before
// and besides what the site answers.
namespace heartpage::server {

// What a client that speaks plain HTTP to the HTTPS port reads.
inline constexpr std::string_view kPlainHttpRefusal =
    "HTTP/1.1 400 Bad Request\r\nServer: heartpage-server\r\n"
    "Content-Type: text/plain; charset=utf-8\r\nContent-Length: 26\r\n"
    "Connection: close\r\n\r\nthis address speaks HTTPS\n";
inline constexpr std::string_view kPlainHttpRefusalBody =
    kPlainHttpRefusal.substr(kPlainHttpRefusal.find("\r\n\r\n") + 4);
static_assert(kPlainHttpRefusalBody.size() == 26, "Content-Length of the refusal");
static_assert(NamesTheServer(kPlainHttpRefusal));

// What makes a request's length uncertain, or which a proxy in front of us
// could read as a different request: refused, so that no request can hide in
// another's body.
std::optional<std::string_view> FramingProblem(const boost::beast::http::request_header<>& header);

// The header as the serializer would write it.
std::string HeaderText(const boost::beast::http::response_header<>& header);

// The answer to a request refused on its header alone, after which the
// connection ends. A 503 tells the client to try again in a few seconds
// unless `retry_after` says when.
StringResponse Refusal(const boost::beast::http::request_header<>& header,
                       boost::beast::http::status status, std::string_view message,
                       std::chrono::seconds retry_after = {});

}  // namespace heartpage::server
