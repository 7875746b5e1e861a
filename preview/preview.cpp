#include "preview/preview.h"

#include <fstream>
#include <random>
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

bool WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (out) out.close();
  return static_cast<bool>(out);
}

// Writes the file as a new one moved into place, so that every preview's file
// is a file of its own, distinguishable from another preview's (also one of
// another process). Where the old file cannot be replaced (a browser on
// Windows may hold it), it is rewritten in place.
bool WriteFresh(const fs::path& file, const std::string& bytes) {
  std::random_device random;
  fs::path fresh = file;
  fresh += "." + std::to_string(random()) + ".tmp";
  std::error_code error;
  if (WriteBytes(fresh, bytes)) {
    fs::rename(fresh, file, error);
    if (!error) return true;
  }
  fs::remove(fresh, error);
  return WriteBytes(file, bytes);
}

}  // namespace

std::string PreviewBytes(std::string_view page) {
  return ToGbk(page) + "\r\n";
}

std::optional<std::string> WritePreview(const PreviewHooks& hooks) {
  const fs::path directory = hooks.directory ? hooks.directory() : TempDirectory();
  const fs::path file = directory / fs::path(kPreviewFileName);
  if (!WriteFresh(file, PreviewBytes(GGCT::Get().FGN))) return "无法写入预览文件：" + Utf8(file);
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
