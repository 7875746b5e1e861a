#include "server/asset_gzip.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "server/assets.h"
#include "server/gzip.h"

namespace heartpage::server {
namespace {

// Larger text files are sent as they are rather than read whole at start.
constexpr std::uintmax_t kLargestFile = 16 * 1024 * 1024;

}  // namespace

CompressedAssets::CompressedAssets(const std::vector<std::filesystem::path>& roots,
                                   std::size_t max_bytes) {
  for (const std::filesystem::path& root : roots) {
    std::error_code ec;
    const std::filesystem::path real_root = std::filesystem::canonical(root, ec);
    if (ec) continue;
    std::filesystem::recursive_directory_iterator it(
        real_root, std::filesystem::directory_options::skip_permission_denied, ec);
    for (const std::filesystem::recursive_directory_iterator end; !ec && it != end;
         it.increment(ec)) {
      // Hidden folders are never served: nothing in them is read.
      if (it->path().filename().string().starts_with('.')) {
        if (it->is_directory(ec)) it.disable_recursion_pending();
        continue;
      }
      if (!IsCompressibleType(MimeTypeOf(it->path()))) continue;
      // Symbolic links count by where they lead, as when serving.
      const std::optional<std::filesystem::path> real = InsideAssetRoot(real_root, it->path());
      if (!real || entries_.contains(real->string())) continue;
      std::error_code stat_error;
      const std::uintmax_t size = std::filesystem::file_size(*real, stat_error);
      const auto written = std::filesystem::last_write_time(*real, stat_error);
      if (stat_error || size < kSmallestCompressed || size > kLargestFile) continue;
      std::ifstream in(*real, std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(in), {}};
      // Changed while read: it is served as it is until the next start.
      if (bytes.size() != size) continue;
      std::string gzip = GzipIfWorthIt(bytes);
      if (gzip.empty() || gzip.size() > max_bytes - bytes_) continue;
      bytes_ += gzip.size();
      entries_.emplace(real->string(), Entry{size, written, std::move(gzip)});
    }
  }
}

const std::string* CompressedAssets::Find(const std::filesystem::path& file, std::uintmax_t size,
                                          std::filesystem::file_time_type written) const {
  const auto it = entries_.find(file.string());
  if (it == entries_.end() || it->second.size != size || it->second.written != written)
    return nullptr;
  return &it->second.gzip;
}

}  // namespace heartpage::server
