#include "server/http/http_message.h"

#include <iterator>
#include <type_traits>
#include <variant>

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
  // Two lengths, even equal ones, in two headers or as a list in one: a proxy
  // in front may have kept either, or only the first, and read the body
  // differently.
  const auto lengths = header.equal_range(http::field::content_length);
  if (std::distance(lengths.first, lengths.second) > 1 ||
      (lengths.first != lengths.second &&
       lengths.first->value().find(',') != std::string_view::npos))
    return "more than one Content-Length";
  const std::size_t hosts = header.count(http::field::host);
  if (hosts > 1 || (hosts == 0 && header.version() >= 11)) return "one Host header needed";
  return std::nullopt;
}

bool HasFoldedLine(std::string_view header) {
  for (std::size_t end = header.find("\r\n"); end != std::string_view::npos;
       end = header.find("\r\n", end + 2))
    if (end + 2 < header.size() && (header[end + 2] == ' ' || header[end + 2] == '\t')) return true;
  return false;
}

void HeaderBuffer::consume(std::size_t n) {
  if (n > 0 && !folded_) {
    // The parser takes a long header in pieces (the request line as soon as
    // it is whole): a line's end and the next line's start may lie in two.
    const std::string_view piece(static_cast<const char*>(buffer_.data().data()), n);
    seam_.append(piece.substr(0, 3));
    folded_ = HasFoldedLine(seam_) || HasFoldedLine(piece);
    // What the next piece's start joins: the last two bytes so far.
    if (n >= 2)
      seam_.assign(piece.substr(n - 2));
    else
      seam_.erase(0, seam_.size() > 2 ? seam_.size() - 2 : 0);
  }
  buffer_.consume(n);
}

void AddStrictTransport(Response& response, unsigned seconds) {
  const std::string value = "max-age=" + std::to_string(seconds);
  if (auto* page = std::get_if<PageResponse>(&response)) {
    // The head ends with the blank line.
    page->head.insert(page->head.size() - 2, "Strict-Transport-Security: " + value + "\r\n");
    return;
  }
  std::visit(
      [&](auto& message) {
        if constexpr (!std::is_same_v<std::decay_t<decltype(message)>, PageResponse>)
          message.set(http::field::strict_transport_security, value);
      },
      response);
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
