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
// kUnreachableText with the host that did not answer, as start-up says it.
std::string UnreachableText(std::string_view host);
// The second choice beside kUnreachableText at start-up, and what the
// announcement line says while the program runs without its server.
inline constexpr std::string_view kOfflineChoice = "离线编辑";
inline constexpr std::string_view kOfflineAnnouncement =
    "未连接服务器（离线编辑）：可以编辑、保存草稿和预览，预览中没有服务器上的音乐、视频和自己的文件"
    "；"
    "上传等操作要等连上服务器，程序会自动重新连接";
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
  // The program's exit status when the window is not shown: 2 for a host
  // configured wrongly.
  int exit_status = 0;
  // The new caption of GongG; none keeps the design caption.
  std::optional<std::string> announcement;
  // The name for ZCYN; none leaves it as it is.
  std::optional<std::string> owned_name;
  // Shown without the server, which is to be asked again (Reconnect).
  bool offline = false;
};

// Runs the start-up steps in order with continue-on-error, after a check of
// the configured host (a wrong one is told, on standard error too, and ends
// the program), except that a
// server whose settings cannot be read at all is reported as unreachable
// (not as a new version), with the choice to go on offline
// (`services.offer_choice`); without that choice the program ends. `claim_instance` takes this
// program's single-instance lock: false when another copy holds it. Every
// request goes through `services.post` as it is; the caller bounds it
// (WithinBudget).
StartupResult RunStartup(const ClientServices& services,
                         const std::function<bool()>& claim_instance);

// The server steps of start-up again, for a program that runs without its
// server: a server that still cannot be read leaves it running offline, with
// nothing told; one that answers gets the version check and the ownership
// lookup exactly as at start-up (a newer version ends the program).
StartupResult Reconnect(const ClientServices& services);

// `post`, with every request made through the result (and its copies)
// sharing one time budget, counted from the first request: a request that
// finds the time spent is not sent and reads as no answer.
EndpointPost WithinBudget(EndpointPost post, std::chrono::milliseconds budget = kStartupBudget);

// One step of the scrolling announcement: the first character moves to the
// end. Characters, not bytes: a character outside the Basic Multilingual
// Plane moves as one. Invalid UTF-8 moves byte by byte.
std::string ScrollOnce(std::string_view caption);

}  // namespace heartpage
