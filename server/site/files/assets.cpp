#include "server/site/files/assets.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <mutex>
#include <string>
#include <system_error>

#include "text/ascii.h"

namespace heartpage::server {
namespace {

// The entry of `dir` called `name`, the exact spelling first.
std::optional<std::filesystem::path> FindEntry(const std::filesystem::path& dir,
                                               const std::string& name) {
  std::error_code ec;
  std::filesystem::path exact = dir / name;
  if (std::filesystem::symlink_status(exact, ec).type() != std::filesystem::file_type::not_found &&
      !ec)
    return exact;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (EqualsIgnoringCase(it->path().filename().string(), name)) return it->path();
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> ResolveUnder(const std::filesystem::path& root,
                                                  const std::vector<std::string>& segments) {
  std::error_code ec;
  const std::filesystem::path real_root = std::filesystem::canonical(root, ec);
  if (ec) return std::nullopt;
  std::filesystem::path current = real_root;
  for (const std::string& segment : segments) {
    std::optional<std::filesystem::path> next = FindEntry(current, segment);
    if (!next) return std::nullopt;
    current = *next;
  }
  return InsideAssetRoot(real_root, current);
}

}  // namespace

std::optional<std::filesystem::path> InsideAssetRoot(const std::filesystem::path& real_root,
                                                     const std::filesystem::path& file) {
  // Symbolic links may point anywhere; only their final target counts.
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(file, ec);
  if (ec) return std::nullopt;
  const auto [root_end, inside] = std::ranges::mismatch(real_root, real);
  if (root_end != real_root.end()) return std::nullopt;
  // Nor may they lead to what is hidden.
  for (auto part = inside; part != real.end(); ++part)
    if (part->string().starts_with('.')) return std::nullopt;
  if (!std::filesystem::is_regular_file(real, ec)) return std::nullopt;
  return real;
}

std::optional<std::string> PercentDecode(std::string_view text) {
  return DecodePercents(text);
}

std::optional<std::filesystem::path> ResolveAsset(const std::vector<std::filesystem::path>& roots,
                                                  std::string_view path) {
  // Split before decoding, so that an encoded "/" stays inside its segment,
  // where it is refused below.
  std::vector<std::string> segments;
  for (std::size_t pos = 0; pos <= path.size();) {
    const std::size_t end = std::min(path.find('/', pos), path.size());
    std::optional<std::string> segment = PercentDecode(path.substr(pos, end - pos));
    // Dot-files and dot-folders (version control, editors' leftovers) are
    // never part of a page; "." and ".." fall here too.
    if (!segment || segment->empty() || segment->starts_with('.')) return std::nullopt;
    if (segment->find_first_of(std::string_view("/\\\0", 3)) != std::string::npos)
      return std::nullopt;
    segments.push_back(std::move(*segment));
    pos = end + 1;
  }
  for (const std::filesystem::path& root : roots)
    if (auto found = ResolveUnder(root, segments)) return found;
  return std::nullopt;
}

std::optional<std::filesystem::path> AssetPaths::Resolve(std::string_view path) {
  const auto now = std::chrono::steady_clock::now();
  {
    std::shared_lock lock(mutex_);
    if (const auto it = found_.find(path); it != found_.end() && now < it->second.until)
      return it->second.file;
  }
  std::optional<std::filesystem::path> file = ResolveAsset(roots_, path);
  if (!file) return file;
  std::unique_lock lock(mutex_);
  // Crude but bounded: when full, start again from empty.
  if (found_.size() >= kRemembered) found_.clear();
  found_.insert_or_assign(std::string(path), Found{*file, now + std::chrono::seconds(1)});
  return file;
}

void AssetPaths::Forget(std::string_view path) {
  std::unique_lock lock(mutex_);
  if (const auto it = found_.find(path); it != found_.end()) found_.erase(it);
}

std::string_view MimeTypeOf(const std::filesystem::path& file) {
  struct Entry {
    std::string_view extension;
    std::string_view type;
  };
  static constexpr std::array<Entry, 26> kTypes{{
      {".htm", "text/html"},         {".html", "text/html"},
      {".css", "text/css"},          {".js", "text/javascript"},
      {".json", "application/json"}, {".txt", "text/plain"},
      {".xml", "application/xml"},   {".png", "image/png"},
      {".jpg", "image/jpeg"},        {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},         {".bmp", "image/bmp"},
      {".ico", "image/x-icon"},      {".svg", "image/svg+xml"},
      {".webp", "image/webp"},       {".cur", "image/x-icon"},
      {".mp3", "audio/mpeg"},        {".ogg", "audio/ogg"},
      {".wav", "audio/wav"},         {".m4a", "audio/mp4"},
      {".mp4", "video/mp4"},         {".webm", "video/webm"},
      {".woff", "font/woff"},        {".woff2", "font/woff2"},
      {".ttf", "font/ttf"},          {".swf", "application/x-shockwave-flash"},
  }};
  const std::string extension = file.extension().string();
  for (const Entry& entry : kTypes)
    if (EqualsIgnoringCase(entry.extension, extension)) return entry.type;
  return "application/octet-stream";
}

}  // namespace heartpage::server
