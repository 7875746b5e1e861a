#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace heartpage::server {

// The text assets gzip-compressed once, when the server starts, so that
// answering never compresses on the threads that serve connections.
class CompressedAssets {
 public:
  CompressedAssets() = default;
  // Reads every text file under `roots` that ResolveAsset can return,
  // keeping at most `max_bytes` of compressed bytes in all.
  explicit CompressedAssets(const std::vector<std::filesystem::path>& roots,
                            std::size_t max_bytes = kDefaultMaxBytes);

  static constexpr std::size_t kDefaultMaxBytes = 32 * 1024 * 1024;

  // The compressed bytes of `file` (a path ResolveAsset returned) while it
  // is still the file that was compressed: same size and time of writing.
  // Nothing for a file changed since, or not worth compressing.
  const std::string* Find(const std::filesystem::path& file, std::uintmax_t size,
                          std::filesystem::file_time_type written) const;

  std::size_t bytes() const { return bytes_; }

 private:
  struct Entry {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type written;
    std::string gzip;
  };
  std::unordered_map<std::string, Entry> entries_;
  std::size_t bytes_ = 0;
};

}  // namespace heartpage::server
