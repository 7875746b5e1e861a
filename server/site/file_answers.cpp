#include "server/site/file_answers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include "server/site/asset_gzip.h"
#include "server/site/assets.h"
#include "server/site/file_stamp.h"
#include "server/site/http_util.h"

namespace heartpage::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::uint64_t kMaxRange = 8 * 1024 * 1024;

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

// Every Accept-Encoding line of the request counts, as one list.
bool ClientAcceptsGzip(const Request& request) {
  const auto [first, last] = request.equal_range(http::field::accept_encoding);
  if (first == last) return false;
  if (std::next(first) == last) return AcceptsGzip(first->value());
  std::string joined;
  for (auto it = first; it != last; ++it) {
    joined += it->value();
    joined += ',';
  }
  return AcceptsGzip(joined);
}

// The headers of 200 answers written directly from memory carry the same
// fields as the other answers of a page or an asset. Every one starts so:
std::string HeadStart(const Request& request, std::string_view etag, const StoredPage& stored) {
  std::string head;
  head.reserve(512);
  head += request.version() == 10 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.1 200 OK\r\n";
  head += "Server: heartpage-server\r\nDate: ";
  head += CurrentHttpDate();
  head += "\r\nETag: ";
  head += etag;
  head += "\r\nLast-Modified: ";
  head += LastModified(stored.modified);
  head += "\r\n";
  return head;
}

// ... and ends with what the body is and whether the connection stays.
void EndHead(std::string& head, const Request& request, std::string_view type,
             const StoredPage& stored, bool gzip, bool keep_alive) {
  head += "Vary: Accept-Encoding\r\nContent-Type: ";
  head += type;
  head += "\r\n";
  if (gzip) head += "Content-Encoding: gzip\r\n";
  head += "Content-Length: ";
  head += std::to_string(gzip ? stored.gzip.size() : stored.bytes.size());
  if (!keep_alive) head += "\r\nConnection: close";
  if (keep_alive && request.version() == 10) head += "\r\nConnection: keep-alive";
  head += "\r\n\r\n";
}

// A page's.
std::string PageHead(const Request& request, const StoredPage& page, std::string_view etag,
                     bool gzip, bool keep_alive) {
  std::string head = HeadStart(request, etag, page);
  head +=
      "Cache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n"
      "Content-Security-Policy: ";
  head += kPageSecurityPolicy;
  head += "\r\n";
  EndHead(head, request, "text/html; charset=gbk", page, gzip, keep_alive);
  return head;
}

constexpr std::string_view kAssetCaching = "public, max-age=86400";

// An asset's.
std::string AssetHead(const Request& request, const StoredPage& asset, std::string_view etag,
                      std::string_view type, bool gzip, bool keep_alive) {
  std::string head = HeadStart(request, etag, asset);
  head += "Cache-Control: ";
  head += kAssetCaching;
  head += "\r\nAccept-Ranges: bytes\r\nX-Content-Type-Options: nosniff\r\n";
  EndHead(head, request, type, asset, gzip, keep_alive);
  return head;
}

}  // namespace

Response ServePage(const Request& request, std::shared_ptr<const StoredPage> page) {
  // Pages have no ranges: a Range header gets the whole page, compressed
  // like any other answer.
  const bool gzip = !page->gzip.empty() && ClientAcceptsGzip(request);
  const std::string etag = gzip ? GzipEtag(page->etag) : page->etag;
  const bool unchanged = NotModified(request[http::field::if_none_match],
                                     request[http::field::if_modified_since], etag, page->modified);
  if (request.method() == http::verb::get && !unchanged) {
    const bool keep_alive = request.keep_alive();
    std::string head = PageHead(request, *page, etag, gzip, keep_alive);
    return PageResponse{std::move(head), std::move(page), keep_alive, gzip};
  }
  // 304, or the answer to HEAD: the page's header without the page.
  StringResponse response(unchanged ? http::status::not_modified : http::status::ok,
                          request.version());
  response.set(http::field::server, kServerName);
  response.set(http::field::date, CurrentHttpDate());
  response.set(http::field::etag, etag);
  response.set(http::field::last_modified, FormatHttpDate(page->modified));
  response.set(http::field::cache_control, "no-cache");
  response.set("X-Content-Type-Options", "nosniff");
  // The page runs in an origin of its own: its scripts work, but cannot
  // touch the publishing site or other people's pages.
  response.set("Content-Security-Policy", kPageSecurityPolicy);
  response.set(http::field::vary, "Accept-Encoding");
  response.keep_alive(request.keep_alive());
  if (!unchanged) {
    response.set(http::field::content_type, "text/html; charset=gbk");
    if (gzip) response.set(http::field::content_encoding, "gzip");
    response.content_length(gzip ? page->gzip.size() : page->bytes.size());
  }
  return response;
}

Response ServeAsset(const Request& request, std::string_view path, const Site& site) {
  const auto not_found = [&] {
    return PlainResponse(request.version(), request.keep_alive(), http::status::not_found,
                         "not found");
  };
  std::optional<std::filesystem::path> file = site.asset_paths != nullptr
                                                  ? site.asset_paths->Resolve(path)
                                                  : ResolveAsset(site.asset_dirs, path);
  if (!file) return not_found();
  // Files held in memory and known unchanged need no look at all; others
  // one: whether the file is still there, and still the version held.
  const CompressedAssets* assets = site.compressed_assets;
  const CompressedAssets::Held* held = assets != nullptr ? assets->FindUnchanged(*file) : nullptr;
  std::optional<FileStamp> stamp = held != nullptr ? held->stamp : StampOf(*file);
  if (!stamp && site.asset_paths != nullptr) {
    // Gone since it was found: where does the path lead now?
    site.asset_paths->Forget(path);
    file = site.asset_paths->Resolve(path);
    if (!file) return not_found();
    stamp = StampOf(*file);
  }
  if (!stamp) return not_found();
  const std::uintmax_t size = stamp->size;
  const std::int64_t modified =
      std::chrono::duration_cast<std::chrono::seconds>(
          std::chrono::file_clock::to_sys(stamp->written).time_since_epoch())
          .count();
  const std::string identity_etag = AssetEtag(*stamp);
  if (held == nullptr && assets != nullptr) held = assets->Find(*file, *stamp);
  // Ranges are of the uncompressed bytes, whatever else the client accepts.
  const bool ranged = request.count(http::field::range) > 0;
  const bool gzip = held != nullptr && !ranged && ClientAcceptsGzip(request);
  const std::string etag = gzip ? GzipEtag(identity_etag) : identity_etag;
  const std::string_view type = MimeTypeOf(*file);

  const auto with_headers = [&](auto& response) {
    response.set(http::field::server, kServerName);
    response.set(http::field::date, CurrentHttpDate());
    response.set(http::field::etag, etag);
    response.set(http::field::last_modified, FormatHttpDate(modified));
    response.set(http::field::cache_control, kAssetCaching);
    response.set(http::field::accept_ranges, "bytes");
    response.set("X-Content-Type-Options", "nosniff");
    if (held != nullptr) response.set(http::field::vary, "Accept-Encoding");
    response.keep_alive(request.keep_alive());
  };
  if (NotModified(request[http::field::if_none_match], request[http::field::if_modified_since],
                  etag, modified)) {
    StringResponse response(http::status::not_modified, request.version());
    with_headers(response);
    return response;
  }
  if (held != nullptr && !ranged && request.method() == http::verb::get &&
      (gzip || held->asset->bytes.size() == size)) {
    const bool keep_alive = request.keep_alive();
    std::string head = AssetHead(request, *held->asset, etag, type, gzip, keep_alive);
    const PageFile& shared = gzip ? assets->gzip_file() : assets->plain_file();
    return PageResponse{std::move(head),
                        held->asset,
                        keep_alive,
                        gzip,
                        shared.valid() ? &shared : nullptr,
                        gzip ? held->gzip_at : held->plain_at};
  }
  if (request.method() == http::verb::head) {
    StringResponse response(http::status::ok, request.version());
    with_headers(response);
    response.set(http::field::content_type, type);
    if (gzip) response.set(http::field::content_encoding, "gzip");
    response.content_length(gzip ? held->asset->gzip.size() : size);
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
      if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return not_found();
    }
    StringResponse response(
        part ? http::status::partial_content : http::status::range_not_satisfiable,
        request.version());
    with_headers(response);
    response.set(http::field::content_type, type);
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
  if (ec) return not_found();
  FileResponse response(std::piecewise_construct, std::make_tuple(std::move(body)),
                        std::make_tuple(http::status::ok, request.version()));
  with_headers(response);
  response.set(http::field::content_type, type);
  response.prepare_payload();
  return response;
}

}  // namespace heartpage::server
