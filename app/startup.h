#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/server_requests.h"

// What the program decides while its main window loads, before it is shown:
// whether it may run at all, the announcement, whether this client is still
// current, and the name this machine owns on the publishing server. The
// window supplies the effects (messages, opening addresses); nothing here
// knows about windows.
namespace heartpage {

inline constexpr std::string_view kClientVersion = "V1.0";
inline constexpr std::string_view kNoticeTitle = "提示";
inline constexpr std::string_view kAlreadyRunningText = "程序已经运行,不能再次装载！";
inline constexpr std::string_view kNewVersionText = "发现最新版本!";
inline constexpr std::string_view kStartingText = "正在连接服务器…";
inline constexpr std::string_view kUnreachableText = "无法连接服务器,请检查网络后重试!";
// Between the announcement's end and its next start while it scrolls.
inline constexpr std::string_view kAnnouncementGap = "          ";

// Settings fields: the announcement, the current client's version label and
// its download address.
inline constexpr std::size_t kAnnouncementField = 3;
inline constexpr std::size_t kVersionField = 4;
inline constexpr std::size_t kDownloadField = 5;

// How long start-up may wait for the publishing server, all of its requests
// together: a server that accepts connections and never answers must not
// keep the user looking at nothing. A request that finds the time spent is
// not sent and reads as no answer.
inline constexpr std::chrono::milliseconds kStartupBudget{5000};
inline constexpr std::chrono::milliseconds kStartupConnectLimit{3000};

enum class NoticeIcon { kExclamation, kInformation };

struct Notice {
  std::string text;
  std::string title;
  NoticeIcon icon = NoticeIcon::kInformation;
  bool operator==(const Notice&) const = default;
};

using SettingsFields = std::optional<std::vector<std::string>>;

struct StartupServices {
  // Takes this program's single-instance lock; false when another instance
  // holds it.
  std::function<bool()> claim_instance;
  // One settings request per call (FetchSettings).
  std::function<SettingsFields()> fetch_settings;
  // Posts a body to the server endpoint.
  Poster post;
  // The machine identifier; may throw std::runtime_error.
  std::function<std::string()> disk_serial;
  // A message box; returns when the user has closed it.
  std::function<void(const Notice&)> show_notice;
  std::function<void(const std::string&)> open_target;
};

struct StartupResult {
  bool show_main = false;
  // The new caption of GongG; none keeps the design caption.
  std::optional<std::string> announcement;
  // The name for ZCYN; none leaves it as it is.
  std::optional<std::string> owned_name;
};

// Runs the start-up steps in order with continue-on-error, except that a
// server whose settings cannot be read at all is reported as unreachable
// (not as a new version) and ends the program.
StartupResult RunStartup(const StartupServices& services);

// Posts to the configured server's endpoint; every request made through the
// returned poster (and its copies) shares one time budget, counted from the
// first request.
Poster StartupPoster(std::chrono::milliseconds budget = kStartupBudget);

// The services that talk to the configured publishing server within
// kStartupBudget and read this machine's identifier; the caller adds the
// lock, the notices and the opener.
StartupServices ServerStartupServices();

// One step of the scrolling announcement: the first character moves to the
// end. Characters, not bytes: a character outside the Basic Multilingual
// Plane moves as one. Invalid UTF-8 moves byte by byte.
std::string ScrollOnce(std::string_view caption);

}  // namespace heartpage
