#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/site/common/endpoint_request.h"
#include "server/site/common/media_limits.h"
#include "server/site/common/page_limits.h"
#include "server/site/common/piece_body.h"
#include "server/site/common/responses.h"
#include "server/site/common/work.h"
#include "server/storage/storage.h"

// What every room of the site answers with, and what it knows of the site
// and of the request it answers.
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

// Who may frame a page when the operator has not said (CSP source
// expressions; see PageSecurityPolicy).
inline constexpr std::string_view kDefaultFrameAncestors = "'none'";

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

// What the client of limit key `key` may store, by its address.
inline AddressBudget SenderBudget(const Site& site, std::string key) {
  return {std::move(key), site.media.per_address_daily, site.pages.per_address_daily,
          site.pages.per_address_recent};
}

}  // namespace heartpage::server
