#include "server/site/router.h"

#include <boost/beast/core/string.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "server/site/assets.h"
#include "server/site/endpoint.h"
#include "server/site/file_answers.h"
#include "server/site/http_util.h"
#include "server/site/media.h"
#include "server/site/origin_check.h"
#include "server/site/previews.h"
#include "server/site/site.h"

namespace heartpage::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// A write that found the database locked may well get in a moment later.
constexpr std::chrono::seconds kBusyRetry{2};

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::ranges::equal(text.substr(0, prefix.size()), prefix, [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

StringResponse TextResponse(const Request& request, http::status status, std::string body,
                            std::string_view content_type) {
  StringResponse response(status, request.version());
  response.set(http::field::server, kServerName);
  response.set(http::field::date, CurrentHttpDate());
  response.set(http::field::content_type, content_type);
  response.set("X-Content-Type-Options", "nosniff");
  response.body() = std::move(body);
  response.keep_alive(request.keep_alive());
  response.prepare_payload();
  return response;
}

StringResponse Plain(const Request& request, http::status status, std::string_view message) {
  return TextResponse(request, status, std::string(message) + "\n", "text/plain; charset=utf-8");
}

StringResponse MethodNotAllowed(const Request& request, std::string_view allowed) {
  StringResponse response = Plain(request, http::status::method_not_allowed, "method not allowed");
  response.set(http::field::allow, allowed);
  return response;
}

Response Endpoint(const Request& request, const Site& site, Audit* audit) {
  if (request.method() != http::verb::post) return MethodNotAllowed(request, "POST");
  if (SentByWebPage(request))
    return Plain(request, http::status::forbidden, "requests from web pages are refused");
  EndpointReply reply = HandleEndpoint(site.storage, request.body(), site.public_host, audit);
  const std::string_view type =
      reply.status == 200 ? "text/plain; charset=gbk" : "text/plain; charset=utf-8";
  StringResponse response =
      TextResponse(request, static_cast<http::status>(reply.status), std::move(reply.body), type);
  response.set(http::field::cache_control, "no-store");
  return response;
}

Response SitePage(const Request& request, std::string_view path, const Site& site) {
  const SiteSettings settings = site.storage.LoadSettings();
  StringResponse response =
      TextResponse(request, http::status::ok,
                   path == "/download"  ? DownloadPage(settings, site.public_host)
                   : path == "/support" ? SupportPage(settings, site.public_host)
                                        : HomePage(settings, site.public_host),
                   "text/html; charset=utf-8");
  response.set(http::field::cache_control, "no-cache");
  return response;
}

// What a visitor reads where a page was taken down by its owner.
StringResponse TakenDown(const Request& request) {
  StringResponse response = TextResponse(
      request, http::status::gone,
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>网页已撤下</title></head>\n<body style=\"font-family:sans-serif;text-align:center;"
      "padding-top:20vh;color:#555\"><h1>网页已撤下</h1><p>这个网页已被它的主人撤下。</p>"
      "</body></html>\n",
      "text/html; charset=utf-8");
  response.set(http::field::cache_control, "no-cache");
  return response;
}

Response PublishedPage(const Request& request, std::string_view name, const Site& site) {
  if (!IsValidPageName(name)) return Plain(request, http::status::not_found, "no such page");
  std::shared_ptr<const StoredPage> page = site.storage.LoadPage(PageNameKey(name));
  if (!page && site.storage.WasTakenDown(PageNameKey(name))) return TakenDown(request);
  if (!page) return Plain(request, http::status::not_found, "no such page");
  return ServePage(request, std::move(page));
}

// A temporary preview is served as a published page is; once expired its
// address says so, in words a visitor reads.
Response TemporaryPreview(const Request& request, std::string_view token, const Site& site) {
  if (!IsValidPreviewToken(token)) return Plain(request, http::status::not_found, "no such page");
  std::optional<PreviewPage> preview = site.storage.LoadPreview(token, std::time(nullptr));
  if (!preview) return Plain(request, http::status::not_found, "no such page");
  if (preview->expired) {
    StringResponse response =
        TextResponse(request, http::status::gone, ExpiredPreviewPage(), "text/html; charset=utf-8");
    response.set(http::field::cache_control, "no-cache");
    return response;
  }
  return ServePage(request, std::move(preview->page));
}

Response Route(const Request& request, const Site& site, Audit* audit) {
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  const bool read_only =
      request.method() == http::verb::get || request.method() == http::verb::head;

  if (EqualsIgnoringCase(path, wire::kEndpointPath)) return Endpoint(request, site, audit);
  if (StartsWithIgnoringCase(path, wire::kPagePrefix)) {
    if (!read_only) return MethodNotAllowed(request, "GET, HEAD");
    return PublishedPage(request, path.substr(wire::kPagePrefix.size()), site);
  }
  if (StartsWithIgnoringCase(path, "/biaobai/")) {
    if (!read_only) return MethodNotAllowed(request, "GET, HEAD");
    return ServeAsset(request, path.substr(9), site);
  }
  if (path.starts_with(kPreviewPath)) {
    if (!read_only) return MethodNotAllowed(request, "GET, HEAD");
    return TemporaryPreview(request, path.substr(kPreviewPath.size()), site);
  }
  if (path.starts_with(wire::kMediaPrefix)) {
    if (!read_only) return MethodNotAllowed(request, "GET, HEAD");
    return ServeMedia(request, path.substr(wire::kMediaPrefix.size()), site);
  }
  // A file arrives through the connection's own path (IsMediaUpload); what
  // comes here is not one.
  if (path == wire::kMediaPath) return MethodNotAllowed(request, "POST");
  if (path == "/" || path == "/index.html" || path == "/download" || path == "/support") {
    if (!read_only) return MethodNotAllowed(request, "GET, HEAD");
    return SitePage(request, path, site);
  }
  return Plain(request, http::status::not_found, "not found");
}

}  // namespace

Response HandleRequest(const Request& request, const Site& site, Audit* audit) {
  Response response;
  try {
    response = Route(request, site, audit);
  } catch (const StorageBusy& error) {
    std::fprintf(stderr, "heartpage-server: storage busy: %s\n", error.what());
    response = TryLater(request, http::status::service_unavailable, kBusyRetry, "server busy");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "heartpage-server: storage error: %s\n", error.what());
    response = Plain(request, http::status::internal_server_error, "storage error");
  }
  // Whatever answers a HEAD, errors included, goes without its body.
  if (auto* text = std::get_if<StringResponse>(&response);
      text != nullptr && request.method() == http::verb::head && !text->body().empty()) {
    const std::size_t size = text->body().size();
    text->body().clear();
    text->content_length(size);
  }
  return response;
}

Work WorkOf(const Request& request, const Site& site) {
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  const bool read_only =
      request.method() == http::verb::get || request.method() == http::verb::head;
  if (EqualsIgnoringCase(path, wire::kEndpointPath)) {
    if (request.method() != http::verb::post || SentByWebPage(request)) return Work::kAtOnce;
    switch (PeekEndpointWork(request.body())) {
      case EndpointWork::kClaim:
        return Work::kClaim;
      case EndpointWork::kStore:
        return Work::kStore;
      case EndpointWork::kRead:
        return Work::kRead;
    }
  }
  if (!read_only) return Work::kAtOnce;
  if (StartsWithIgnoringCase(path, wire::kPagePrefix)) {
    const std::string_view name = path.substr(wire::kPagePrefix.size());
    return !IsValidPageName(name) || site.storage.HasInMemory(PageNameKey(name)) ? Work::kAtOnce
                                                                                 : Work::kRead;
  }
  if (path == "/" || path == "/index.html" || path == "/download" || path == "/support")
    return Work::kRead;
  if ((path.starts_with(kPreviewPath) && IsValidPreviewToken(path.substr(kPreviewPath.size()))) ||
      (path.starts_with(wire::kMediaPrefix) &&
       MediaTypeOfName(path.substr(wire::kMediaPrefix.size()))))
    return Work::kRead;
  return Work::kAtOnce;
}

StringResponse TryLater(const Request& request, http::status status,
                        std::chrono::seconds retry_after, std::string_view message) {
  StringResponse response = Plain(request, status, message);
  response.set(http::field::retry_after, std::to_string(retry_after.count()));
  return response;
}

StringResponse PlainResponse(unsigned version, bool keep_alive, http::status status,
                             std::string_view message) {
  Request request;
  request.version(version);
  request.keep_alive(keep_alive);
  return Plain(request, status, message);
}

unsigned StatusOf(const Response& response) {
  return std::visit(
      [](const auto& message) -> unsigned {
        if constexpr (requires { message.result_int(); })
          return message.result_int();
        else
          return 200;
      },
      response);
}

std::size_t BodyBytesOf(const Response& response) {
  return std::visit(
      [](const auto& message) -> std::size_t {
        if constexpr (requires { message.page; })
          return message.body().size();
        else
          return static_cast<std::size_t>(message.body().size());
      },
      response);
}

}  // namespace heartpage::server
