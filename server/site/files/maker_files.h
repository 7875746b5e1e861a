#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "server/site/common/responses.h"

// The files of the maker in the browser (its page, style sheet, modules and
// the styles' artwork), few and small: read once when the server starts and
// answered from memory, compressed once then, like the pages' text assets.
namespace heartpage::server {

// What /make and the maker's files may do: nothing but what the site
// itself serves, no script of any page's (none inline), nothing framing
// them; its one frame shows a preview from the site in an origin of its own.
inline constexpr std::string_view kMakerSecurityPolicy =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
    "connect-src 'self'; frame-src 'self'; form-action 'self'; object-src 'none'; "
    "base-uri 'none'; frame-ancestors 'none'";

class MakerFiles {
 public:
  MakerFiles() = default;
  // The files right inside `folder`, and those inside `artwork` under
  // "artwork/". A folder that is not there gives none.
  MakerFiles(const std::filesystem::path& folder, const std::filesystem::path& artwork);

  // `path` follows "/make": "" or "/" for the maker's page, "/NAME" for a file.
  StringResponse Serve(const Request& request, std::string_view path) const;

  std::size_t size() const { return files_.size(); }

 private:
  struct File {
    std::string bytes;
    std::string gzip;  // empty: not worth it
    std::string type;
    std::string etag;
  };
  void Read(const std::filesystem::path& folder, std::string_view prefix);
  std::map<std::string, File, std::less<>> files_;
};

}  // namespace heartpage::server
