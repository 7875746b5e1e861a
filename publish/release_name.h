#pragma once

#include <string>
#include <string_view>

#include "publish/take_down.h"
#include "publish/upload.h"

// "更换名字" in the upload dialog, without its window: the name this machine
// owns is given up on the server, its page with it, so that another can be
// chosen (a mistyped one, say).
namespace heartpage {

namespace upload_text {
inline constexpr std::string_view kChangeName = "更换名字";
inline constexpr std::string_view kReleased = "原名字已放弃，请输入新的文件名。";
inline constexpr std::string_view kReleaseFailed = "更换失败,请检查网络后重试!";
// Her answers, and the earlier versions' answers, are the page's: they go
// with the name, which the button says before it is pressed, too.
inline constexpr std::string_view kAnswersGoToo = "TA的回答将一并删除";
}  // namespace upload_text

// The question before: what goes, and that the name is then anyone's.
std::string ReleaseQuestion(std::string_view name);

// Asks the server to release `name` under this machine's identifier; done:
// this machine owns no name afterwards. A name the server does not know
// (404) is owned no more either: it reads as released.
NameActOutcome ReleaseName(std::string_view name, const UploadServices& services);

}  // namespace heartpage
