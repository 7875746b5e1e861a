#pragma once

#include <string>
#include <string_view>

#include "publish/upload.h"

// 扫码预览 without its window: the page stored at a temporary address of the
// publishing server, for the sender's own phone.
namespace heartpage {

namespace scan_text {
inline constexpr std::string_view kTitle = "扫码预览";
inline constexpr std::string_view kStoring = "正在生成预览地址…";
inline constexpr std::string_view kFailed = "预览地址生成失败,请检查网络后重试!";
inline constexpr std::string_view kTooLarge = "网页太大,无法预览!";
}  // namespace scan_text

// What the window says under a code, with the time its address ends
// ("17:36"): "用手机微信或浏览器扫一扫，30分钟内有效，每台电脑只保留最近3次的地址
// （本地址至 17:36）". The terms are the server's own.
std::string ScanHint(std::string_view until);

struct ScanPreviewOutcome {
  bool stored = false;
  std::string address;  // the temporary address when stored
  std::string status;   // what to tell the user when not
};

// Stores `page` as a temporary preview of this machine and answers its
// address; only an http(s) address of the publishing host is taken from
// the server's answer.
ScanPreviewOutcome StoreScanPreview(std::string_view page, const UploadServices& services);

}  // namespace heartpage
