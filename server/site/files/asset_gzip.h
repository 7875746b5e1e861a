#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "server/site/files/file_stamp.h"
#include "server/site/files/folder_watch.h"
#include "server/storage/storage.h"

namespace heartpage::server {

// The text assets gzip-compressed once, when the server starts, so that
// answering never compresses on the threads that serve connections. Each is
// held as a page is: its compressed bytes (and, within a budget of their
// own, its bytes as they are) in memory, and in two sealed in-memory files
// shared by all (two descriptors, however many assets), so that the busiest
// answers go out without a copy and without reading a file.
class CompressedAssets {
 public:
  CompressedAssets() = default;
  // Reads every text file under `roots` that ResolveAsset can return,
  // keeping at most `max_bytes` of compressed bytes in all, and as much of
  // the same files' bytes as they are.
  explicit CompressedAssets(const std::vector<std::filesystem::path>& roots,
                            std::size_t max_bytes = kDefaultMaxBytes);

  static constexpr std::size_t kDefaultMaxBytes = 32 * 1024 * 1024;

  struct Held {
    FileStamp stamp;
    // `gzip` is always there; `bytes` is empty when over the budget.
    std::shared_ptr<const StoredPage> asset;
    std::size_t plain_at = 0;  // where the bytes are in plain_file()
    std::size_t gzip_at = 0;   // where the compressed bytes are in gzip_file()
  };

  // `file` (a path ResolveAsset returned) while it is still the file that
  // was read: same size and time of writing. Nothing for a file changed
  // since, or not worth compressing.
  const Held* Find(const std::filesystem::path& file, const FileStamp& stamp) const;
  // The same without a look at the file, while nothing in the folders of
  // the files held has changed since they were read. Once anything has, or
  // when that cannot be known: nothing, and the file's stamp decides.
  const Held* FindUnchanged(const std::filesystem::path& file) const;

  // Invalid when the system gave no such file: the bytes go from memory.
  const PageFile& plain_file() const { return plain_file_; }
  const PageFile& gzip_file() const { return gzip_file_; }

  std::size_t bytes() const { return bytes_; }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  std::unordered_map<std::string, Held, Hash, std::equal_to<>> entries_;
  PageFile plain_file_;
  PageFile gzip_file_;
  std::unique_ptr<FolderWatch> watch_;
  std::size_t bytes_ = 0;
};

// The validator of an asset file's bytes as they are.
std::string AssetEtag(const FileStamp& stamp);

}  // namespace heartpage::server
