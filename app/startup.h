#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "publish/client_services.h"

// What the program decides while its main window loads, before it is shown:
// whether it may run at all, the announcement, whether this client is still
// current, and the name this machine owns on the publishing server. The
// window supplies the effects (messages, opening addresses) through the
// services; nothing here knows about windows.
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

using SettingsFields = std::optional<std::vector<std::string>>;

struct StartupResult {
  bool show_main = false;
  // The new caption of GongG; none keeps the design caption.
  std::optional<std::string> announcement;
  // The name for ZCYN; none leaves it as it is.
  std::optional<std::string> owned_name;
};

// Runs the start-up steps in order with continue-on-error, except that a
// server whose settings cannot be read at all is reported as unreachable
// (not as a new version) and ends the program. `claim_instance` takes this
// program's single-instance lock: false when another copy holds it. Every
// request goes through `services.post` as it is; the caller bounds it
// (WithinBudget).
StartupResult RunStartup(const ClientServices& services,
                         const std::function<bool()>& claim_instance);

// `post`, with every request made through the result (and its copies)
// sharing one time budget, counted from the first request: a request that
// finds the time spent is not sent and reads as no answer.
EndpointPost WithinBudget(EndpointPost post, std::chrono::milliseconds budget = kStartupBudget);

// One step of the scrolling announcement: the first character moves to the
// end. Characters, not bytes: a character outside the Basic Multilingual
// Plane moves as one. Invalid UTF-8 moves byte by byte.
std::string ScrollOnce(std::string_view caption);

}  // namespace heartpage
