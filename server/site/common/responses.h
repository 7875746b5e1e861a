#pragma once

#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include <chrono>
#include <exception>
#include <string>
#include <string_view>

#include "server/site/common/endpoint_request.h"

// The site's short answers in text, built one way: whatever answers, a page,
// a file or a refusal, says who and when alike.
namespace heartpage::server {

using Request = boost::beast::http::request<boost::beast::http::string_body>;
using StringResponse = boost::beast::http::response<boost::beast::http::string_body>;
using FileResponse = boost::beast::http::response<boost::beast::http::file_body>;

// The Server header of every answer.
inline constexpr std::string_view kServerName = "heartpage-server";
// Whether an answer written out by hand names the server as every built one
// does; for a static_assert beside it.
constexpr bool NamesTheServer(std::string_view answer) {
  constexpr std::string_view kField = "\r\nServer: ";
  const std::size_t at = answer.find(kField);
  return at != std::string_view::npos &&
         answer.substr(at + kField.size()).starts_with(kServerName) &&
         answer.substr(at + kField.size() + kServerName.size()).starts_with("\r\n");
}
inline constexpr std::string_view kPlainText = "text/plain; charset=utf-8";

// `body` as an answer of `content_type`, kept from sniffing; the connection
// stays open when the request allows it, and an answer to HEAD tells the
// body's length without it. `cache_control`, when given, closes the header.
StringResponse TextResponse(const Request& request, boost::beast::http::status status,
                            std::string body, std::string_view content_type,
                            std::string_view cache_control = {});

// One line of plain text: `message` and its newline.
StringResponse PlainResponse(const Request& request, boost::beast::http::status status,
                             std::string_view message);
// The same for what the connection refuses by itself, from the request's
// header alone (none, when even that could not be read), keeping the
// connection or not as it decides.
StringResponse PlainResponse(const boost::beast::http::request_header<>& header, bool keep_alive,
                             boost::beast::http::status status, std::string_view message);

// "Not now": 429 or 503 with Retry-After, the connection kept.
StringResponse TryLater(const Request& request, boost::beast::http::status status,
                        std::chrono::seconds retry_after, std::string_view message);

// What a request gets that the storage failed: 503 with Retry-After while the
// database is only busy, 500 for anything else. What went wrong is the
// request's own to log, in `audit` when given; the client learns no more.
StringResponse StorageFailure(const Request& request, const std::exception& error, Audit* audit);

}  // namespace heartpage::server
