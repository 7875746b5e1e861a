#include "server/router.h"

#include <boost/beast/core/string.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>

#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "server/assets.h"
#include "server/endpoint.h"
#include "server/http_util.h"
#include "server/media.h"
#include "server/origin_check.h"
#include "server/previews.h"
#include "server/site.h"

namespace heartpage::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// A write that found the database locked may well get in a moment later.
constexpr std::chrono::seconds kBusyRetry{2};
constexpr std::uint64_t kMaxRange = 8 * 1024 * 1024;
constexpr std::string_view kServerName = "heartpage-server";

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::ranges::equal(text.substr(0, prefix.size()), prefix, [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// The Date header, formatted at most once a second per thread.
const std::string& CurrentDate() {
  thread_local std::time_t cached_at = 0;
  thread_local std::string text;
  const std::time_t now = std::time(nullptr);
  if (now != cached_at) {
    cached_at = now;
    text = FormatHttpDate(now);
  }
  return text;
}

// Pages are mostly asked for again and again: format their date once.
const std::string& LastModified(std::int64_t modified) {
  thread_local std::int64_t cached_for = -1;
  thread_local std::string text;
  if (modified != cached_for) {
    cached_for = modified;
    text = FormatHttpDate(modified);
  }
  return text;
}

StringResponse TextResponse(const Request& request, http::status status, std::string body,
                            std::string_view content_type) {
  StringResponse response(status, request.version());
  response.set(http::field::server, kServerName);
  response.set(http::field::date, CurrentDate());
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

// The header of a page's 200 answer, written directly: the same fields as
// the other answers of a page carry.
std::string PageHead(const Request& request, const StoredPage& page, bool keep_alive) {
  std::string head;
  head.reserve(512);
  head += request.version() == 10 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.1 200 OK\r\n";
  head += "Server: heartpage-server\r\nDate: ";
  head += CurrentDate();
  head += "\r\nETag: ";
  head += page.etag;
  head += "\r\nLast-Modified: ";
  head += LastModified(page.modified);
  head +=
      "\r\nCache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n"
      "Content-Security-Policy: ";
  head += kPageSecurityPolicy;
  head += "\r\nContent-Type: text/html; charset=gbk\r\nContent-Length: ";
  head += std::to_string(page.bytes.size());
  if (!keep_alive) head += "\r\nConnection: close";
  if (keep_alive && request.version() == 10) head += "\r\nConnection: keep-alive";
  head += "\r\n\r\n";
  return head;
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

Response ServePage(const Request& request, std::shared_ptr<const StoredPage> page);

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

Response ServePage(const Request& request, std::shared_ptr<const StoredPage> page) {
  const bool unchanged =
      NotModified(request[http::field::if_none_match], request[http::field::if_modified_since],
                  page->etag, page->modified);
  if (request.method() == http::verb::get && !unchanged) {
    const bool keep_alive = request.keep_alive();
    std::string head = PageHead(request, *page, keep_alive);
    return PageResponse{std::move(head), std::move(page), keep_alive};
  }
  // 304, or the answer to HEAD: the page's header without the page.
  StringResponse response(unchanged ? http::status::not_modified : http::status::ok,
                          request.version());
  response.set(http::field::server, kServerName);
  response.set(http::field::date, CurrentDate());
  response.set(http::field::etag, page->etag);
  response.set(http::field::last_modified, FormatHttpDate(page->modified));
  response.set(http::field::cache_control, "no-cache");
  response.set("X-Content-Type-Options", "nosniff");
  // The page runs in an origin of its own: its scripts work, but cannot
  // touch the publishing site or other people's pages.
  response.set("Content-Security-Policy", kPageSecurityPolicy);
  response.keep_alive(request.keep_alive());
  if (!unchanged) {
    response.set(http::field::content_type, "text/html; charset=gbk");
    response.content_length(page->bytes.size());
  }
  return response;
}

Response Asset(const Request& request, std::string_view path, const Site& site) {
  const std::optional<std::filesystem::path> file = ResolveAsset(site.asset_dirs, path);
  if (!file) return Plain(request, http::status::not_found, "not found");
  std::error_code fs_error;
  const auto write_time = std::filesystem::last_write_time(*file, fs_error);
  const auto size = std::filesystem::file_size(*file, fs_error);
  if (fs_error) return Plain(request, http::status::not_found, "not found");
  const std::int64_t modified = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::file_clock::to_sys(write_time).time_since_epoch())
                                    .count();
  char etag[48];
  std::snprintf(etag, sizeof etag, "\"%jx-%jx\"", static_cast<std::uintmax_t>(size),
                static_cast<std::uintmax_t>(write_time.time_since_epoch().count()));

  const auto with_headers = [&](auto& response) {
    response.set(http::field::server, kServerName);
    response.set(http::field::date, CurrentDate());
    response.set(http::field::etag, etag);
    response.set(http::field::last_modified, FormatHttpDate(modified));
    response.set(http::field::cache_control, "public, max-age=86400");
    response.set(http::field::accept_ranges, "bytes");
    response.set("X-Content-Type-Options", "nosniff");
    response.keep_alive(request.keep_alive());
  };
  if (NotModified(request[http::field::if_none_match], request[http::field::if_modified_since],
                  etag, modified)) {
    StringResponse response(http::status::not_modified, request.version());
    with_headers(response);
    return response;
  }
  if (request.method() == http::verb::head) {
    StringResponse response(http::status::ok, request.version());
    with_headers(response);
    response.set(http::field::content_type, MimeTypeOf(*file));
    response.content_length(size);
    return response;
  }
  // Players of music and video ask for parts of a file. A stale If-Range
  // gets the whole file instead.
  const std::string_view if_range = request[http::field::if_range];
  const RangeRequest range = if_range.empty() || if_range == etag
                                 ? ParseRange(request[http::field::range], size)
                                 : RangeRequest{};
  if (range.kind != RangeRequest::Kind::kWhole) {
    const bool part = range.kind == RangeRequest::Kind::kPart;
    // At most kMaxRange bytes at a time; players ask again for the rest.
    const std::uint64_t last =
        part ? std::min(range.range.last, range.range.first + kMaxRange - 1) : 0;
    std::string bytes;
    if (part) {
      bytes.resize(last - range.range.first + 1);
      std::ifstream in(*file, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(range.range.first));
      if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        return Plain(request, http::status::not_found, "not found");
    }
    StringResponse response(
        part ? http::status::partial_content : http::status::range_not_satisfiable,
        request.version());
    with_headers(response);
    response.set(http::field::content_type, MimeTypeOf(*file));
    response.set(http::field::content_range, part ? "bytes " + std::to_string(range.range.first) +
                                                        "-" + std::to_string(last) + "/" +
                                                        std::to_string(size)
                                                  : "bytes */" + std::to_string(size));
    response.body() = std::move(bytes);
    response.prepare_payload();
    return response;
  }
  http::file_body::value_type body;
  beast::error_code ec;
  body.open(file->c_str(), beast::file_mode::scan, ec);
  if (ec) return Plain(request, http::status::not_found, "not found");
  FileResponse response(std::piecewise_construct, std::make_tuple(std::move(body)),
                        std::make_tuple(http::status::ok, request.version()));
  with_headers(response);
  response.set(http::field::content_type, MimeTypeOf(*file));
  response.prepare_payload();
  return response;
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
    return Asset(request, path.substr(9), site);
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
          return message.page->bytes.size();
        else
          return static_cast<std::size_t>(message.body().size());
      },
      response);
}

}  // namespace heartpage::server
