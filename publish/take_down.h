#pragma once

#include <string>
#include <string_view>

#include "publish/upload.h"

// "撤下网页" in the upload dialog, without its window: the page of the name
// this machine owns is removed from the server; the name stays this
// machine's, so a page can be published under it again.
namespace heartpage {

namespace upload_text {
inline constexpr std::string_view kTakeDownQuestion = "确定撤下网页吗？撤下后对方将无法打开。";
inline constexpr std::string_view kTakenDown = "网页已撤下！";
inline constexpr std::string_view kTakeDownFailed = "撤下失败,请检查网络后重试!";
}  // namespace upload_text

// What the server said to a request on the name this machine owns (a
// take-down, a release).
struct NameActOutcome {
  bool done = false;
  std::string status;  // for the status label
};

// Sends `request` for `name` under this machine's identifier: `done` when
// the server did it, `failed` when it did not answer, else what its refusal
// says. `done_if_unknown`: a name the server does not know counts as done.
NameActOutcome ActOnName(std::string (*request)(std::string_view, std::string_view),
                         std::string_view name, const UploadServices& services,
                         std::string_view done, std::string_view failed,
                         bool done_if_unknown = false);

// Asks the server to take the page of `name` down, under this machine's
// identifier; a refusal reads as the server's status says.
NameActOutcome TakeDown(std::string_view name, const UploadServices& services);

}  // namespace heartpage
