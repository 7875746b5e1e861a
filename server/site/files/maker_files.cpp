#include "server/site/files/maker_files.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "server/site/common/gzip.h"
#include "server/site/common/http_util.h"
#include "server/site/files/assets.h"
#include "server/storage/page_store.h"

namespace heartpage::server {

namespace http = boost::beast::http;

MakerFiles::MakerFiles(const std::filesystem::path& folder, const std::filesystem::path& artwork) {
  Read(folder, "");
  Read(artwork, "artwork/");
}

void MakerFiles::Read(const std::filesystem::path& folder, std::string_view prefix) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with('.') || !entry.is_regular_file(ec)) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    File file;
    file.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) continue;
    file.type = std::string(MimeTypeOf(entry.path()));
    if (file.type.starts_with("text/")) file.type += "; charset=utf-8";
    if (!file.type.starts_with("image/")) file.gzip = GzipIfWorthIt(file.bytes);
    file.etag = PageEtag(file.bytes);
    files_.emplace(std::string(prefix) + name, std::move(file));
  }
}

StringResponse MakerFiles::Serve(const Request& request, std::string_view path) const {
  const std::string_view name = path.empty() || path == "/" ? "index.html" : path.substr(1);
  const auto found = path.empty() || path.starts_with('/') ? files_.find(name) : files_.end();
  if (found == files_.end()) return PlainResponse(request, http::status::not_found, "not found");
  const File& file = found->second;
  const bool page = name == "index.html";
  const bool unchanged = EtagMatches(request[http::field::if_none_match], file.etag);
  const bool gzip = !file.gzip.empty() && AcceptsGzip(request[http::field::accept_encoding]);
  StringResponse response =
      TextResponse(request, unchanged ? http::status::not_modified : http::status::ok,
                   unchanged ? std::string()
                   : gzip    ? file.gzip
                             : file.bytes,
                   file.type,
                   // Asked again each time, answered 304 while unchanged: a new
                   // version of the server's files reaches every phone at once.
                   "no-cache");
  response.set(http::field::etag, file.etag);
  if (!file.gzip.empty()) response.set(http::field::vary, "Accept-Encoding");
  if (gzip && !unchanged) response.set(http::field::content_encoding, "gzip");
  if (page) {
    response.set("Content-Security-Policy", kMakerSecurityPolicy);
    // Same-origin, not no-referrer: the maker's posts must name its origin,
    // which is how the site tells them from another site's.
    response.set("Referrer-Policy", "same-origin");
  }
  return response;
}

}  // namespace heartpage::server
