#include "preview/preview.h"

#include <fstream>
#include <system_error>
#include <thread>

#include "net/gbk.h"
#include "pages/holder.h"

namespace heartpage {
namespace {

// Counts the previews written by this process, so that a preview can tell
// whether a later one has rewritten the file during its wait.
std::uint64_t g_previews_written = 0;

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

}  // namespace

std::string PreviewBytes(std::string_view page) { return ToGbk(page) + "\r\n"; }

std::optional<std::string> WritePreview(const PreviewHooks& hooks) {
  const std::filesystem::path directory = hooks.directory ? hooks.directory() : TempDirectory();
  const std::filesystem::path file = directory / std::filesystem::path(kPreviewFileName);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    const std::string bytes = PreviewBytes(GGCT::Get().FGN);
    if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (out) out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(file, ignored);
      return "无法写入预览文件：" + Utf8(file);
    }
  }
  const std::uint64_t mine = ++g_previews_written;

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

  if (mine == g_previews_written) {
    std::error_code ignored;  // a browser that still holds the file keeps it
    std::filesystem::remove(file, ignored);
  }
  return std::nullopt;
}

}  // namespace heartpage
