#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace heartpage {

// The page as a browser receives it: GBK bytes followed by exactly one CR LF.
std::string PreviewBytes(std::string_view page);

// Hands a file path or web address to the desktop, which opens it with the
// program associated with it. Returns without waiting for that program;
// false when nothing could be started.
bool OpenTarget(const std::string& target);

// The platform's directory for temporary files; empty when the platform names
// none, in which case the preview goes to the current directory.
std::filesystem::path TempDirectory();

// One written version of a file: a later write, by this process or another,
// gives the file another stamp.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t file = 0;
  std::int64_t modified = 0;
  bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampFile(const std::filesystem::path& path);

inline constexpr std::chrono::seconds kPreviewLifetime{5};
inline constexpr std::string_view kPreviewFileName = "yl.htm";

struct PreviewHooks {
  // Opens the written file; OpenTarget by default.
  std::function<bool(const std::string&)> open;
  // Waits for the given time while the caller's event loop keeps running;
  // sleeps by default. The windows install one that processes events.
  std::function<void(std::chrono::milliseconds)> wait;
  // Where the file goes; TempDirectory by default.
  std::function<std::filesystem::path()> directory;
};

// Writes the page built last (GGCT's FGN) to "yl.htm" in the temporary
// directory, opens it, waits five seconds and deletes it, unless a later
// preview has written the file meanwhile: the last preview deletes it.
// Answers an error message, for the user, when the file cannot be written;
// nothing is opened then.
std::optional<std::string> WritePreview(const PreviewHooks& hooks = {});

}  // namespace heartpage
