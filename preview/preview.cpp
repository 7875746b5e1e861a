#include "preview/preview.h"

#include <system_error>
#include <thread>

#include "net/gbk.h"
#include "pages/holder.h"

namespace heartpage {
namespace {

namespace fs = std::filesystem;

// Counts the previews written by this process, so that a preview can tell
// whether a later one has rewritten the file during its wait.
std::uint64_t g_previews_written = 0;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

}  // namespace

std::string PreviewBytes(std::string_view page) {
  return ToGbk(page) + "\r\n";
}

std::optional<std::string> WritePreview(const PreviewHooks& hooks) {
  const fs::path directory = hooks.directory ? hooks.directory() : PreviewDirectory();
  const fs::path file = directory / fs::path(kPreviewFileName);
  switch (WritePrivateFile(directory, kPreviewFileName, PreviewBytes(GGCT::Get().FGN))) {
    case PrivateWrite::kWritten:
      break;
    case PrivateWrite::kUnsafeFolder:
      return "预览文件夹不安全(不属于本用户或他人可写),未预览：" + Utf8(directory);
    case PrivateWrite::kFailed:
      return "无法写入预览文件：" + Utf8(file);
  }
  const std::uint64_t mine = ++g_previews_written;
  const std::optional<FileStamp> written = StampFile(file);

  if (hooks.open) {
    hooks.open(Utf8(file));
  } else {
    OpenTarget(Utf8(file));
  }
  if (hooks.wait) {
    hooks.wait(kPreviewLifetime);
  } else {
    std::this_thread::sleep_for(kPreviewLifetime);
  }

  // The last preview deletes the file; an earlier one leaves a later one's
  // file to its own deletion.
  if (mine == g_previews_written && written && StampFile(file) == written) {
    std::error_code ignored;  // a browser that still holds the file keeps it
    fs::remove(file, ignored);
  }
  return std::nullopt;
}

}  // namespace heartpage
