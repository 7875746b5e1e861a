#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/site/endpoint.h"
#include "server/site/media_limits.h"
#include "server/site/page_limits.h"
#include "server/site/piece_body.h"
#include "server/site/responses.h"
#include "server/site/work.h"
#include "server/storage/storage.h"

namespace heartpage::server {

// The 200 answer of a published page, the busiest answer of the site, or of
// an asset held in memory: its header already written out, and the bytes,
// which the connection sends straight from their file when it can.
struct PageResponse {
  std::string head;
  std::shared_ptr<const StoredPage> page;
  bool keep_alive = false;
  bool gzip = false;  // the page's compressed bytes are sent
  // Where the bytes sent are in a file shared with others, when not in the
  // page's own; it outlives every connection.
  const PageFile* file = nullptr;
  std::size_t file_offset = 0;

  std::string_view body() const { return gzip ? page->compressed : page->bytes; }
};

using Response = std::variant<StringResponse, FileResponse, PageResponse, StreamResponse>;

// What a published page or a preview may do. Its scripts run in an origin of
// their own, with no cookies or storage, and can send nothing anywhere but
// an opening and an answer to this site's two paths for them, post no form,
// download nothing and open no dialog. Only the site's own
// /biaobai/ scripts and inline ones run: the site stores only pages the
// program builds, so every inline script is a template's. Nothing is framed
// or embedded and no base moves the page's addresses; the templates' links
// may open a new tab, sandboxed as the page is. `frame_ancestors` says who
// may frame the page itself (CSP source expressions).
std::string PageSecurityPolicy(std::string_view public_host, std::string_view frame_ancestors);
inline constexpr std::string_view kDefaultFrameAncestors = "'none'";

// The senders' own files run nothing, whatever their bytes, yet a browser's
// viewer shows or plays one opened at its own address: that viewer fetches
// the file from the document it makes for it, so the document keeps the
// site's origin (a sandbox would make it opaque and the fetch cross-origin)
// and may load the file itself and style its controls.
inline constexpr std::string_view kMediaSecurityPolicy =
    "default-src 'none'; media-src 'self'; img-src 'self'; style-src 'unsafe-inline'; "
    "form-action 'none'; base-uri 'none'";

class AssetPaths;
class CompressedAssets;
class MakerFiles;

// What answering needs to know of the site.
struct Site {
  Stores storage;
  std::string public_host;  // "host:port" or "https://host:port" that clients reach us at
  std::vector<std::filesystem::path> asset_dirs;
  MediaLimits media;
  const CompressedAssets* compressed_assets = nullptr;  // none: assets go uncompressed
  AssetPaths* asset_paths = nullptr;  // none: every asset request walks asset_dirs
  // The operator's address for abuse ("mailto:…" or "https://…"); empty: the
  // report form alone.
  std::string abuse_contact = {};
  // Who may frame a page: CSP source expressions, or 'none'.
  std::string frame_ancestors = std::string(kDefaultFrameAncestors);
  PageLimits pages = {};
  // The maker in the browser's files; none: /make is not found.
  const MakerFiles* maker_files = nullptr;
};

struct RouteEntry;
struct MakerRequest;

// A request as the site read it, once: where it is answered, and what
// answering it needs again (its route, and the endpoint's form decoded), so
// that nothing is matched or decoded twice.
struct Routed {
  Work work = Work::kAtOnce;
  // What a limit that refuses the request calls it in the log.
  std::string_view operation;
  const RouteEntry* route = nullptr;  // none: no address of the site's
  bool allowed = false;               // the route takes the request's method
  // A page or a preview is read from the database, past the cache: what it
  // reads counts against the client's reads (Audit::page_bytes_read).
  bool reads_page = false;
  // Answering hashes a code (a try at one, or a store that sets one): CPU
  // that must keep out of the storage lanes, on the code workers instead,
  // whatever the rate it counts against.
  bool hashes_code = false;
  // What follows the route's prefix (an exact route: the whole path), as a
  // span of the target, which outlives a move of the request.
  std::size_t rest_at = 0;
  std::size_t rest_size = 0;
  std::optional<EndpointRequest> endpoint;
  // What a request of the maker in the browser said, read from its JSON.
  std::shared_ptr<const MakerRequest> maker;
};
Routed WorkOf(const Request& request, const Site& site);

// What the client of limit key `key` may store, by its address.
inline AddressBudget SenderBudget(const Site& site, std::string key) {
  return {std::move(key), site.media.per_address_daily, site.pages.per_address_daily,
          site.pages.per_address_recent};
}

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
