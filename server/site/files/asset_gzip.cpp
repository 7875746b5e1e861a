#include "server/site/files/asset_gzip.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include "server/site/common/gzip.h"
#include "server/site/files/assets.h"

namespace heartpage::server {
namespace {

// Larger text files are sent as they are rather than read whole at start.
constexpr std::uintmax_t kLargestFile = 16 * 1024 * 1024;

}  // namespace

std::string AssetEtag(const FileStamp& stamp) {
  char text[48];
  std::snprintf(text, sizeof text, "\"%jx-%jx\"", static_cast<std::uintmax_t>(stamp.size),
                static_cast<std::uintmax_t>(stamp.written.time_since_epoch().count()));
  return text;
}

CompressedAssets::CompressedAssets(const std::vector<std::filesystem::path>& roots,
                                   std::size_t max_bytes) {
  std::size_t plain_bytes = 0;
  std::vector<std::string_view> plain_pieces;
  std::vector<std::string_view> gzip_pieces;
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
      if (!real || entries_.contains(real->native())) continue;
      const std::optional<FileStamp> stamp = StampOf(*real);
      if (!stamp || stamp->size < kSmallestCompressed || stamp->size > kLargestFile) continue;
      std::ifstream in(*real, std::ios::binary);
      std::string bytes{std::istreambuf_iterator<char>(in), {}};
      // Changed while read: it is served as it is until the next start.
      if (bytes.size() != stamp->size) continue;
      std::string gzip = GzipIfWorthIt(bytes);
      if (gzip.empty() || gzip.size() > max_bytes - bytes_) continue;
      auto asset = std::make_shared<StoredPage>();
      asset->modified = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::file_clock::to_sys(stamp->written).time_since_epoch())
                            .count();
      asset->etag = AssetEtag(*stamp);
      Held held{*stamp, nullptr, plain_bytes, bytes_};
      bytes_ += gzip.size();
      asset->compressed = std::move(gzip);
      gzip_pieces.push_back(asset->compressed);
      if (bytes.size() <= max_bytes - plain_bytes) {
        plain_bytes += bytes.size();
        asset->bytes = std::move(bytes);
        plain_pieces.push_back(asset->bytes);
      }
      held.asset = std::move(asset);
      entries_.emplace(real->native(), std::move(held));
    }
  }
  plain_file_ = PageFile::Create(plain_pieces);
  gzip_file_ = PageFile::Create(gzip_pieces);

  // Every folder from a root down to a file held, so that moving any of
  // them counts as well.
  std::vector<std::filesystem::path> folders;
  for (const auto& [file, held] : entries_) {
    for (std::filesystem::path folder = std::filesystem::path(file).parent_path();
         std::find(folders.begin(), folders.end(), folder) == folders.end();
         folder = folder.parent_path()) {
      folders.push_back(folder);
      if (std::ranges::any_of(roots,
                              [&](const std::filesystem::path& root) {
                                std::error_code ec;
                                return std::filesystem::equivalent(root, folder, ec);
                              }) ||
          folder == folder.root_path())
        break;
    }
  }
  watch_ = std::make_unique<FolderWatch>(folders);
  // What changed while being read, before the watch began, is never taken
  // for unchanged.
  for (const auto& [file, held] : entries_) {
    const std::optional<FileStamp> now = StampOf(file);
    if (!now || now->size != held.stamp.size || now->written != held.stamp.written) {
      watch_.reset();
      break;
    }
  }
}

const CompressedAssets::Held* CompressedAssets::FindUnchanged(
    const std::filesystem::path& file) const {
  if (watch_ == nullptr || watch_->Changed()) return nullptr;
  const auto it = entries_.find(std::string_view(file.native()));
  return it == entries_.end() ? nullptr : &it->second;
}

const CompressedAssets::Held* CompressedAssets::Find(const std::filesystem::path& file,
                                                     const FileStamp& stamp) const {
  const auto it = entries_.find(std::string_view(file.native()));
  if (it == entries_.end() || it->second.stamp.size != stamp.size ||
      it->second.stamp.written != stamp.written)
    return nullptr;
  return &it->second;
}

}  // namespace heartpage::server
