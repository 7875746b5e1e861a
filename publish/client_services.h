#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/server_requests.h"
#include "protocol/media_kind.h"
#include "publish/upload.h"

// Everything the program's windows reach outside themselves, in one object:
// made once by main() (DesktopServices), handed from the main window to the
// editors and on to the upload dialog, 扫码预览 and the file pickers. Tests
// make one of fakes. Nothing here knows about windows.
namespace heartpage {

enum class NoticeIcon { kExclamation, kInformation };

struct Notice {
  std::string text;
  std::string title;
  NoticeIcon icon = NoticeIcon::kInformation;
  bool operator==(const Notice&) const = default;
};

// Sends one body to the publishing server's endpoint, answered within
// `limits`.
using EndpointPost = std::function<PostResult(const std::string& body, const PostLimits& limits)>;

struct ClientServices {
  // The publishing server: every request of the windows goes through it.
  EndpointPost post;
  // This machine's identifier (GetDiskSerial); throws std::runtime_error
  // when it cannot be read. Read afresh at every use.
  std::function<std::string()> machine_id;
  // Hands a path or web address to the desktop, which opens it; false when
  // nothing could be started.
  std::function<bool(const std::string& target)> open_target;
  // Tells the user something; returns once it has been read.
  std::function<void(const Notice& notice)> show_notice;
  // Tells the user something and offers `choice` beside the plain close;
  // true when the user took `choice`. Unset: show_notice, and false.
  std::function<bool(const Notice& notice, const std::string& choice)> offer_choice;
  // Asked before the program ends while an upload runs; true ends it.
  std::function<bool()> confirm_quit;
  // The files the user chooses for a field of `kind` (UTF-8 paths): one, or
  // several at once for an album; none when the user chose none.
  std::function<std::vector<std::string>(MediaKind kind, bool several)> choose_files;
  // Runs `then` once `delay` has passed, without holding up the windows.
  std::function<void(std::chrono::milliseconds delay, std::function<void()> then)> later;
  // Where previews are written (PreviewDirectory).
  std::function<std::filesystem::path()> preview_directory;
  // What a preview gives the browser of a page; unset, the page itself.
  std::function<std::string(std::string_view page)> preview_page;
  // Whether the program runs without its server (start-up's "离线编辑");
  // unset, it never does.
  std::function<bool()> offline;
  // Where the editors keep the drafts of what was typed (UTF-8).
  std::string draft_directory;
  // Where the single-instance lock is kept (UTF-8).
  std::string instance_directory;
  // Where the program remembers the last answer it knew of for each page
  // (UTF-8), so that one given while it was closed is news at the next
  // start; empty: nowhere, and answers there at start are not news.
  std::string answers_directory;
};

// The endpoint with the usual limits, for the requests that take a Poster.
Poster EndpointPoster(const ClientServices& services);

// What the upload's decisions need of the services.
UploadServices UploadServicesOf(const ClientServices& services);

}  // namespace heartpage
