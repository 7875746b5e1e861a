#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// Where the preview goes: a folder that only this user can write. On Linux
// $XDG_RUNTIME_DIR when set, else "heartpage-<uid>" in TempDirectory(),
// created 0700 when missing; on Windows the user's own temporary folder.
std::filesystem::path PreviewDirectory();

enum class PrivateWrite { kWritten, kUnsafeFolder, kFailed };

// Writes `bytes` as the file `name` in `directory`, for this user's eyes only:
// created fresh under a temporary name (never through a link, mode 0600) and
// renamed into place, so whatever stood at the name (a link planted by
// someone else included) is replaced, never written through. On Linux the
// folder must be a real folder of this user's that no one else can write
// (kUnsafeFolder otherwise); nothing is written then.
PrivateWrite WritePrivateFile(const std::filesystem::path& directory, std::string_view name,
                              std::string_view bytes);

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
  // Runs the second argument (the deletion) once the given time has
  // passed. By default it sleeps and runs it before returning, as a program
  // without an event loop must; the windows install a timer instead, so
  // that nothing waits.
  std::function<void(std::chrono::milliseconds, std::function<void()>)> wait;
  // Where the file goes; PreviewDirectory by default.
  std::function<std::filesystem::path()> directory;
  // The files stay where they are written, for a browser that starts cold
  // and reads them late: the next preview into the same folder replaces
  // them, RemoveKeptPreviews removes them. `wait` is not used then.
  bool keep = false;
};

// The folder of one editor's (or the command line's) kept previews, inside
// `base`, made 0700 where missing: each keeps one preview, its latest, so
// their number stays bounded.
std::filesystem::path KeptPreviewFolder(const std::filesystem::path& base, std::string_view owner);
// Removes every kept preview below `base`: the program does at its start
// and at its end.
void RemoveKeptPreviews(const std::filesystem::path& base);

// Writes `page` (PreviewBytes) to "yl.htm" in the preview folder
// (WritePrivateFile), opens it and deletes it five seconds later (from a
// timer, through the hooks' wait), unless a later preview has written the
// file meanwhile: the last preview deletes it. Kept instead where the hooks
// say so.
// Answers an error message, for the user, when the file cannot be written or
// the folder is not private; nothing is opened then.
std::optional<std::string> WritePreview(std::string_view page, const PreviewHooks& hooks = {});

struct PreviewFile {
  std::string_view name;
  std::string bytes;
};

// What every preview does: writes `files` in the preview folder
// (WritePrivateFile), opens the last of them and, five seconds later, deletes
// each file that no later preview has written meanwhile. Answers an error
// message, for the user, when a file cannot be written or the folder is not
// private; nothing is opened then.
std::optional<std::string> ShowPreviewFiles(const PreviewHooks& hooks,
                                            const std::vector<PreviewFile>& files);

// 手机预览: `page` as the preview file, inside a phone-sized
// frame (kPhoneWidth × kPhoneHeight CSS pixels) of a page of its own beside
// it, which is what the browser opens. Both files live as long as a preview.
inline constexpr std::string_view kPhoneFrameFileName = "yl-phone.htm";
inline constexpr int kPhoneWidth = 390;
inline constexpr int kPhoneHeight = 844;
std::optional<std::string> WritePhonePreview(std::string_view page, const PreviewHooks& hooks = {});

// The frame page: UTF-8, embedding `page_file` (a name in the same folder).
std::string PhoneFrameHtml(std::string_view page_file);

}  // namespace heartpage
