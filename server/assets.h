#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
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

// The Content-Type for a file name, by its extension.
std::string_view MimeTypeOf(const std::filesystem::path& file);

// Percent-decoding; nothing for a malformed escape.
std::optional<std::string> PercentDecode(std::string_view text);

}  // namespace heartpage::server
