#include "server/site/common/responses.h"

#include "server/site/common/http_util.h"
#include "server/storage/storage.h"

namespace heartpage::server {

namespace http = boost::beast::http;

namespace {

// A write that found the database locked may well get in a moment later.
constexpr std::chrono::seconds kBusyRetry{2};

}  // namespace

namespace {

StringResponse Text(unsigned version, http::verb method, bool keep_alive, http::status status,
                    std::string body, std::string_view content_type,
                    std::string_view cache_control) {
  StringResponse response(status, version);
  response.set(http::field::server, kServerName);
  response.set(http::field::date, CurrentHttpDate());
  response.set(http::field::content_type, content_type);
  response.set("X-Content-Type-Options", "nosniff");
  response.body() = std::move(body);
  response.keep_alive(keep_alive);
  response.prepare_payload();
  if (!cache_control.empty()) response.set(http::field::cache_control, cache_control);
  // The client would read a body as the start of the next answer.
  if (method == http::verb::head && !response.body().empty()) {
    const std::size_t size = response.body().size();
    response.body().clear();
    response.content_length(size);
  }
  return response;
}

}  // namespace

StringResponse TextResponse(const Request& request, http::status status, std::string body,
                            std::string_view content_type, std::string_view cache_control) {
  return Text(request.version(), request.method(), request.keep_alive(), status, std::move(body),
              content_type, cache_control);
}

StringResponse PlainResponse(const Request& request, http::status status,
                             std::string_view message) {
  return TextResponse(request, status, std::string(message) + "\n", kPlainText);
}

StringResponse PlainResponse(const http::request_header<>& header, bool keep_alive,
                             http::status status, std::string_view message) {
  return Text(header.version(), header.method(), keep_alive, status, std::string(message) + "\n",
              kPlainText, {});
}

StringResponse TryLater(const Request& request, http::status status,
                        std::chrono::seconds retry_after, std::string_view message) {
  StringResponse response = PlainResponse(request, status, message);
  response.set(http::field::retry_after, std::to_string(retry_after.count()));
  return response;
}

StringResponse StorageFailure(const Request& request, const std::exception& error, Audit* audit) {
  const bool busy = dynamic_cast<const StorageBusy*>(&error) != nullptr;
  if (audit != nullptr)
    audit->failure = std::string(busy ? "storage busy: " : "storage error: ") + error.what();
  if (busy) return TryLater(request, http::status::service_unavailable, kBusyRetry, "server busy");
  return PlainResponse(request, http::status::internal_server_error, "storage error");
}

}  // namespace heartpage::server
