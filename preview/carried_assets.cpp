#include "preview/carried_assets.h"

#include <system_error>

#include "protocol/wire.h"

namespace heartpage {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return {text.begin(), text.end()};
}

// Where an address in a page ends: its quotes, a style sheet's bracket,
// white space, or the start of a query or fragment (which a file has none of).
bool EndsAddress(char c) {
  return std::string_view("\"'<>() \t\r\n?#\\").find(c) != std::string_view::npos;
}

}  // namespace

CarriedAssets::CarriedAssets(std::vector<fs::path> folders) : folders_(std::move(folders)) {}

void CarriedAssets::Index() const {
  for (const fs::path& folder : folders_) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) continue;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::follow_directory_symlink, ec),
         end;
         !ec && it != end; it.increment(ec)) {
      const std::string name = Utf8(it->path().filename());
      // Leftovers of editors and version control are no part of a page.
      if (name.starts_with('.')) {
        if (it->is_directory(ec)) it.disable_recursion_pending();
        continue;
      }
      if (!it->is_regular_file(ec)) continue;
      // The first folder that has a file keeps it.
      files_.try_emplace(Lower(Utf8(it->path().lexically_relative(folder))), it->path());
    }
  }
}

fs::path CarriedAssets::Find(std::string_view path) const {
  std::call_once(indexed_, [this] { Index(); });
  const auto found = files_.find(Lower(path));
  return found == files_.end() ? fs::path() : found->second;
}

std::string CarriedAssets::Localize(std::string_view page, std::string_view origin) const {
  const std::string prefix = std::string(origin) + std::string(wire::kAssetPrefix);
  std::string out;
  out.reserve(page.size());
  std::size_t pos = 0;
  for (std::size_t hit; (hit = page.find(prefix, pos)) != std::string_view::npos;) {
    std::size_t end = hit + prefix.size();
    while (end < page.size() && !EndsAddress(page[end])) ++end;
    const std::string_view path = page.substr(hit + prefix.size(), end - hit - prefix.size());
    out.append(page.substr(pos, hit - pos));
    const fs::path copy = path.empty() ? fs::path() : Find(path);
    if (copy.empty()) {
      out.append(page.substr(hit, end - hit));
    } else {
      out.append(FileAddress(copy));
    }
    pos = end;
  }
  out.append(page.substr(pos));
  return out;
}

std::vector<fs::path> CarriedAssetFolders(const fs::path& program_folder) {
  std::vector<fs::path> folders;
  const fs::path share = program_folder.parent_path() / "share";
  for (const char* installed : {"heartpage", "heartpage-server"})
    for (const char* kind : {"assets", "assets-vendor"})
      folders.push_back(share / installed / kind);
  std::error_code ec;
  if (!fs::is_directory(folders.front(), ec)) {
    folders.emplace_back(HEARTPAGE_ASSETS_DIR);
    folders.emplace_back(HEARTPAGE_VENDOR_ASSETS_DIR);
  }
  return folders;
}

std::string FileAddress(const fs::path& file) {
  std::string path = Utf8(fs::absolute(file));
  // A drive letter's path still starts the address's path with '/'.
  if (!path.starts_with('/')) path.insert(0, "/");
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::string_view("-._~/:").find(c) != std::string_view::npos;
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

}  // namespace heartpage
