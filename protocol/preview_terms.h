#pragma once

#include <string>

// The terms of a temporary preview (扫码预览), defined once: the server keeps
// to them, the program promises them beside the QR code, and the page of an
// ended address recalls them, all in the same words.
namespace heartpage::wire {

// How long a preview's address serves its page.
inline constexpr int kPreviewLifetimeMinutes = 30;
// Live previews of one machine; a new one ends the oldest before its time.
inline constexpr int kPreviewsPerMachine = 3;

// "30分钟内有效，每台电脑只保留最近3次的地址"
inline std::string PreviewTerms() {
  return std::to_string(kPreviewLifetimeMinutes) + "分钟内有效，每台电脑只保留最近" +
         std::to_string(kPreviewsPerMachine) + "次的地址";
}

}  // namespace heartpage::wire
