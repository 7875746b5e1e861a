#pragma once

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/status.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "server/site/common/responses.h"
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

// Tells the browser to come back only over HTTPS for `seconds`
// (Strict-Transport-Security), whichever form the answer takes.
void AddStrictTransport(Response& response, unsigned seconds);

// Whether a request's header bytes hold obsolete line folding: a line that
// begins with a space or tab.
bool HasFoldedLine(std::string_view header);

// The connection's buffer as the header parser sees it, noting whether the
// header it takes holds obsolete line folding (a line that begins with a
// space or tab), which the parser would quietly join to the line before: a
// proxy in front may read such a header otherwise, so it is refused.
class HeaderBuffer {
 public:
  using const_buffers_type = boost::beast::flat_buffer::const_buffers_type;
  using mutable_buffers_type = boost::beast::flat_buffer::mutable_buffers_type;

  explicit HeaderBuffer(boost::beast::flat_buffer& buffer) : buffer_(buffer) {}

  // Before a header is read: the next bytes the parser takes are that header.
  void Arm() {
    seam_.clear();
    folded_ = false;
  }
  bool Folded() const { return folded_; }

  std::size_t size() const { return buffer_.size(); }
  std::size_t max_size() const { return buffer_.max_size(); }
  std::size_t capacity() const { return buffer_.capacity(); }
  const_buffers_type data() const { return buffer_.data(); }
  mutable_buffers_type prepare(std::size_t n) { return buffer_.prepare(n); }
  void commit(std::size_t n) { buffer_.commit(n); }
  void consume(std::size_t n);

 private:
  boost::beast::flat_buffer& buffer_;
  std::string seam_;  // the last two bytes of the header taken so far
  bool folded_ = false;
};

// The header as the serializer would write it.
std::string HeaderText(const boost::beast::http::response_header<>& header);

// The answer to a request refused on its header alone, after which the
// connection ends. A 503 tells the client to try again in a few seconds
// unless `retry_after` says when.
StringResponse Refusal(const boost::beast::http::request_header<>& header,
                       boost::beast::http::status status, std::string_view message,
                       std::chrono::seconds retry_after = {});

}  // namespace heartpage::server
