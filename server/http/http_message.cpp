#include "server/http/http_message.h"

#include <iterator>

#include "text/ascii.h"

namespace heartpage::server {

namespace http = boost::beast::http;

namespace {

constexpr std::chrono::seconds kRefusalRetry{5};

}  // namespace

std::optional<std::string_view> FramingProblem(const http::request_header<>& header) {
  const auto encodings = header.equal_range(http::field::transfer_encoding);
  if (const auto count = std::distance(encodings.first, encodings.second);
      count > 1 || (count == 1 && !EqualsIgnoringCase(encodings.first->value(), "chunked")))
    return "unsupported transfer encoding";
  const std::size_t hosts = header.count(http::field::host);
  if (hosts > 1 || (hosts == 0 && header.version() >= 11)) return "one Host header needed";
  return std::nullopt;
}

std::string HeaderText(const http::response_header<>& header) {
  std::string text = "HTTP/1." + std::to_string(header.version() % 10) + " " +
                     std::to_string(header.result_int()) + " " + std::string(header.reason()) +
                     "\r\n";
  for (const auto& field : header) {
    text += field.name_string();
    text += ": ";
    text += field.value();
    text += "\r\n";
  }
  text += "\r\n";
  return text;
}

StringResponse Refusal(const http::request_header<>& header, http::status status,
                       std::string_view message, std::chrono::seconds retry_after) {
  // An answer to HEAD has no body, refusals included.
  StringResponse response = PlainResponse(header, false, status, message);
  if (retry_after.count() == 0 && status == http::status::service_unavailable)
    retry_after = kRefusalRetry;
  if (retry_after.count() > 0)
    response.set(http::field::retry_after, std::to_string(retry_after.count()));
  return response;
}

}  // namespace heartpage::server
