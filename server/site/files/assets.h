#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace heartpage::server {

// Finds the file that an asset request names under one of `roots`, searched
// in order. `path` is the request path after the assets prefix, still
// percent-encoded, without query. Letter case is ignored segment by segment
// (the templates spell one folder both fg2 and FG2). Nothing outside a root is
// ever returned: "." and ".." segments, encoded slashes or backslashes, NUL,
// and symbolic links leading out of the root are refused, and so is anything
// whose name, or whose folder's name, starts with a dot.
std::optional<std::filesystem::path> ResolveAsset(const std::vector<std::filesystem::path>& roots,
                                                  std::string_view path);

// Where `file`, found under `real_root` (a canonical path), leads when it
// may be served: inside the root, through nothing hidden, a regular file.
std::optional<std::filesystem::path> InsideAssetRoot(const std::filesystem::path& real_root,
                                                     const std::filesystem::path& file);

// Where asset requests led lately, so that the many asset requests of every
// page do not each walk the folders again, which is most of an asset
// answer's work. A request path is looked up afresh after a second, and at
// once when the file it led to has gone: files added, and links changed,
// count within a second. Only files found are remembered, at most
// kRemembered request paths.
class AssetPaths {
 public:
  explicit AssetPaths(std::vector<std::filesystem::path> roots) : roots_(std::move(roots)) {}

  static constexpr std::size_t kRemembered = 4096;

  // What ResolveAsset(roots, path) gives, or gave less than a second ago.
  std::optional<std::filesystem::path> Resolve(std::string_view path);
  // The file that `path` led to is gone or changed kind: no longer remembered.
  void Forget(std::string_view path);

 private:
  struct Found {
    std::filesystem::path file;
    std::chrono::steady_clock::time_point until;
  };
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  const std::vector<std::filesystem::path> roots_;
  std::shared_mutex mutex_;
  std::unordered_map<std::string, Found, Hash, std::equal_to<>> found_;
};

// The Content-Type for a file name, by its extension.
std::string_view MimeTypeOf(const std::filesystem::path& file);

// Percent-decoding; nothing for a malformed escape.
std::optional<std::string> PercentDecode(std::string_view text);

}  // namespace heartpage::server
