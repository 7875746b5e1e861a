#include "server/site/files/file_answers.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include "protocol/wire.h"
#include "server/site/common/http_util.h"
#include "server/site/common/responses.h"
#include "server/site/common/site_pages.h"
#include "server/site/files/asset_gzip.h"
#include "server/site/files/assets.h"
#include "server/site/files/file_range.h"
#include "server/site/files/file_stamp.h"

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

}  // namespace

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

PageForm FormFor(const Request& request) {
  return ClientAcceptsGzip(request) ? PageForm::kCompressed : PageForm::kPlain;
}

namespace {

// Where an answer's fields go: the head of a 200 sent from memory, written
// as text straight after its status line, or Beast's fields of the others
// (304, HEAD, ranges). Each kind of answer writes its fields once, for both.
struct RawHead {
  std::string& head;
  void operator()(std::string_view name, std::string_view value) const {
    head += name;
    head += ": ";
    head += value;
    head += "\r\n";
  }
};
struct BeastFields {
  http::fields& fields;
  void operator()(std::string_view name, std::string_view value) const { fields.set(name, value); }
};

// What every answer of a page or an asset says of itself: who answers and
// when, the validators a cache comes back with, how long it may keep it.
template <typename Set>
void FileFields(const Set& set, std::string_view etag, std::int64_t modified,
                std::string_view caching) {
  set("Server", kServerName);
  set("Date", CurrentHttpDate());
  set("ETag", etag);
  set("Last-Modified", LastModified(modified));
  set("Cache-Control", caching);
  set("X-Content-Type-Options", "nosniff");
}

// A 200 from memory: its status line, its fields, what its body is, and
// whether the connection stays.
template <typename WriteFields>
std::string HeadFromMemory(const Request& request, const WriteFields& write_fields,
                           std::string_view type, const StoredPage& stored, bool gzip,
                           bool keep_alive) {
  std::string head;
  head.reserve(512);
  head += request.version() == 10 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.1 200 OK\r\n";
  const RawHead set{head};
  write_fields(set);
  set("Content-Type", type);
  if (gzip) set("Content-Encoding", "gzip");
  set("Content-Length", std::to_string(gzip ? stored.compressed.size() : stored.bytes.size()));
  if (!keep_alive) set("Connection", "close");
  if (keep_alive && request.version() == 10) set("Connection", "keep-alive");
  head += "\r\n";
  return head;
}

// The policy of the site's pages, written once for each thread and site.
const std::string& PagePolicy(const Site& site) {
  thread_local std::string host, ancestors, policy;
  if (policy.empty() || host != site.public_host || ancestors != site.frame_ancestors) {
    host = site.public_host;
    ancestors = site.frame_ancestors;
    policy = PageSecurityPolicy(host, ancestors);
  }
  return policy;
}

// A page behind a code is its reader's: no cache between her and the site
// may keep it for whoever asks next.
std::string_view PageCaching(const StoredPage& page) {
  return page.gate.code_hash.empty() ? "no-cache" : "private, no-cache";
}

// A page's fields. The page runs in an origin of its own: its scripts
// work, but cannot touch the publishing site or other people's pages.
template <typename Set>
void PageFields(const Set& set, const StoredPage& page, std::string_view etag, const Site& site) {
  FileFields(set, etag, page.modified, PageCaching(page));
  set("Referrer-Policy", "no-referrer");
  set("Content-Security-Policy", PagePolicy(site));
  set("Vary", "Accept-Encoding");
}

constexpr std::string_view kAssetCaching = "public, max-age=86400";

// An asset's: only one held compressed varies by what the client accepts.
template <typename Set>
void AssetFields(const Set& set, std::string_view etag, std::int64_t modified, bool varies) {
  FileFields(set, etag, modified, kAssetCaching);
  set("Accept-Ranges", "bytes");
  if (varies) set("Vary", "Accept-Encoding");
}

}  // namespace

std::string PageSecurityPolicy(std::string_view public_host, std::string_view frame_ancestors) {
  const std::string origin = PublicOrigin(public_host);
  // The sandboxed page has no origin that 'self' could name: the site's
  // address with the paths, which match by prefix. A tab its links open is
  // an ordinary one: the sites they lead to (the site's own home page, a
  // messenger's) need their cookies and storage, and the page could lead
  // its own tab there unsandboxed anyway.
  return "sandbox allow-scripts allow-popups allow-popups-to-escape-sandbox; script-src "
         "'unsafe-inline' " +
         origin + "/biaobai/; connect-src " + origin + std::string(wire::kOpenedPrefix) + " " +
         origin + std::string(wire::kAnswerPrefix) +
         "; form-action 'none'; frame-src 'none'; "
         "object-src 'none'; base-uri 'none'; frame-ancestors " +
         std::string(frame_ancestors);
}

Response ServePage(const Request& request, std::shared_ptr<const StoredPage> page,
                   const Site& site) {
  // Pages have no ranges: a Range header gets the whole page, compressed
  // like any other answer.
  const bool gzip = !page->compressed.empty() && ClientAcceptsGzip(request);
  const std::string etag = gzip ? GzipEtag(page->etag) : page->etag;
  const bool unchanged = NotModified(request[http::field::if_none_match],
                                     request[http::field::if_modified_since], etag, page->modified);
  const auto fields = [&](const auto& set) { PageFields(set, *page, etag, site); };
  constexpr std::string_view kType = "text/html; charset=gbk";
  if (request.method() == http::verb::get && !unchanged) {
    const bool keep_alive = request.keep_alive();
    std::string head = HeadFromMemory(request, fields, kType, *page, gzip, keep_alive);
    return PageResponse{std::move(head), std::move(page), keep_alive, gzip};
  }
  // 304, or the answer to HEAD: the page's header without the page.
  StringResponse response(unchanged ? http::status::not_modified : http::status::ok,
                          request.version());
  fields(BeastFields{response.base()});
  response.keep_alive(request.keep_alive());
  if (!unchanged) {
    response.set(http::field::content_type, kType);
    if (gzip) response.set(http::field::content_encoding, "gzip");
    response.content_length(gzip ? page->compressed.size() : page->bytes.size());
  }
  return response;
}

namespace {

// An asset's fields, and its bytes: from memory when held there, from its
// file otherwise.
class AssetFile final : public FileHolder {
 public:
  // `answer` is what SendRangedFile is told; `size` the file's own.
  AssetFile(const Request& request, const std::filesystem::path& path, const RangedFile& answer,
            std::uint64_t size, const CompressedAssets* assets, const CompressedAssets::Held* held)
      : request_(request),
        path_(path),
        answer_(answer),
        size_(size),
        assets_(assets),
        held_(held) {}

  void SetFields(http::fields& fields) const override {
    AssetFields(BeastFields{fields}, answer_.etag, *answer_.modified, held_ != nullptr);
  }

  std::optional<Response> FromMemory() const override {
    const bool gzip = !answer_.content_encoding.empty();
    // Ranges are cut from the file, and so are the bytes as they are when
    // their budget left them out of memory.
    if (held_ == nullptr || request_.count(http::field::range) > 0 ||
        (!gzip && held_->asset->bytes.size() != size_))
      return std::nullopt;
    const bool keep_alive = request_.keep_alive();
    const auto fields = [&](const auto& set) {
      AssetFields(set, answer_.etag, *answer_.modified, true);
    };
    std::string head =
        HeadFromMemory(request_, fields, answer_.content_type, *held_->asset, gzip, keep_alive);
    const PageFile& shared = gzip ? assets_->gzip_file() : assets_->plain_file();
    return PageResponse{std::move(head),
                        held_->asset,
                        keep_alive,
                        gzip,
                        shared.valid() ? &shared : nullptr,
                        gzip ? held_->gzip_at : held_->plain_at};
  }

  std::optional<FileBytes> Read(std::optional<ByteRange> part) const override {
    if (!part) {
      http::file_body::value_type body;
      beast::error_code ec;
      body.open(path_.c_str(), beast::file_mode::scan, ec);
      if (ec) return std::nullopt;
      return FileBytes(std::move(body));
    }
    std::string bytes(part->last - part->first + 1, '\0');
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(part->first));
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
    return FileBytes(std::move(bytes));
  }

 private:
  const Request& request_;
  const std::filesystem::path& path_;
  const RangedFile& answer_;
  std::uint64_t size_;
  const CompressedAssets* assets_;
  const CompressedAssets::Held* held_;
};

}  // namespace

Response ServeAsset(const Request& request, std::string_view path, const Site& site) {
  const auto not_found = [&] {
    return PlainResponse(request, http::status::not_found, "not found");
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
  const std::int64_t modified =
      std::chrono::duration_cast<std::chrono::seconds>(
          std::chrono::file_clock::to_sys(stamp->written).time_since_epoch())
          .count();
  const std::string identity_etag = AssetEtag(*stamp);
  if (held == nullptr && assets != nullptr) held = assets->Find(*file, *stamp);
  // Ranges are of the uncompressed bytes, whatever else the client accepts.
  const bool gzip =
      held != nullptr && request.count(http::field::range) == 0 && ClientAcceptsGzip(request);
  const std::string etag = gzip ? GzipEtag(identity_etag) : identity_etag;
  const std::string_view type = MimeTypeOf(*file);
  // Players of music and video ask for parts of a file, at most kMaxRange
  // bytes at a time; they ask again for the rest.
  const RangedFile answer{gzip ? held->asset->compressed.size() : stamp->size,
                          etag,
                          modified,
                          type,
                          gzip ? "gzip" : "",
                          kMaxRange,
                          false};
  return SendRangedFile(request, answer,
                        AssetFile(request, *file, answer, stamp->size, assets, held));
}

}  // namespace heartpage::server
