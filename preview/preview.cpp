#include "preview/preview.h"

#include <map>
#include <system_error>
#include <thread>
#include <vector>

#include "text/gbk.h"

namespace heartpage {
namespace {

namespace fs = std::filesystem;

// Counts the writes of each preview file by this process, so that a preview
// can tell whether a later one has rewritten a file during its wait.
std::map<std::string, std::uint64_t, std::less<>>& WritesOf() {
  static std::map<std::string, std::uint64_t, std::less<>> writes;
  return writes;
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

}  // namespace

std::string PreviewBytes(std::string_view page) {
  return ToGbk(page) + "\r\n";
}

std::optional<std::string> ShowPreviewFiles(const PreviewHooks& hooks,
                                            const std::vector<PreviewFile>& files) {
  const fs::path directory = hooks.directory ? hooks.directory() : PreviewDirectory();
  struct Written {
    fs::path path;
    std::uint64_t write = 0;
    std::optional<FileStamp> stamp;
  };
  std::vector<Written> written;
  for (const PreviewFile& preview : files) {
    const fs::path file = directory / fs::path(preview.name);
    switch (WritePrivateFile(directory, preview.name, preview.bytes)) {
      case PrivateWrite::kWritten:
        break;
      case PrivateWrite::kUnsafeFolder:
        return "预览文件夹不安全(不属于本用户或他人可写),未预览：" + Utf8(directory);
      case PrivateWrite::kFailed:
        return "无法写入预览文件：" + Utf8(file);
    }
    auto [count, fresh] = WritesOf().try_emplace(std::string(preview.name), 0);
    written.push_back({file, ++count->second, StampFile(file)});
  }
  if (written.empty()) return std::nullopt;

  const std::string opened = Utf8(written.back().path);
  if (hooks.open) {
    hooks.open(opened);
  } else {
    OpenTarget(opened);
  }
  if (hooks.keep) return std::nullopt;
  // The last preview deletes a file; an earlier one leaves a later one's
  // file to its own deletion.
  auto remove = [written = std::move(written)] {
    for (const Written& file : written) {
      const auto count = WritesOf().find(Utf8(file.path.filename()));
      if (count != WritesOf().end() && count->second == file.write && file.stamp &&
          StampFile(file.path) == file.stamp) {
        std::error_code ignored;  // a browser that still holds the file keeps it
        fs::remove(file.path, ignored);
      }
    }
  };
  if (hooks.wait) {
    hooks.wait(kPreviewLifetime, std::move(remove));
  } else {
    std::this_thread::sleep_for(kPreviewLifetime);
    remove();
  }
  return std::nullopt;
}

fs::path KeptPreviewFolder(const fs::path& base, std::string_view owner) {
  const fs::path kept = base / "heartpage-preview";
  const fs::path folder = kept / fs::path(owner);
  std::error_code ignored;  // a folder that cannot be made fails the write, which says so
  for (const fs::path& level : {kept, folder})
    if (fs::create_directory(level, ignored))
      fs::permissions(level, fs::perms::owner_all, fs::perm_options::replace, ignored);
  return folder;
}

void RemoveKeptPreviews(const fs::path& base) {
  std::error_code ignored;  // what cannot go now goes at the next start
  fs::remove_all(base / "heartpage-preview", ignored);
}

std::optional<std::string> WritePreview(std::string_view page, const PreviewHooks& hooks) {
  return ShowPreviewFiles(hooks, {{kPreviewFileName, PreviewBytes(page)}});
}

}  // namespace heartpage
