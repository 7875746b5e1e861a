#include <string>

#include "preview/preview.h"

namespace heartpage {

std::string PhoneFrameHtml(std::string_view page_file) {
  // The page gets a frame exactly as wide as the phone's screen, so that
  // its own viewport and media rules see a phone; the frame stands on a
  // dark ground in a phone's dark body, with its size written under it.
  const std::string width = std::to_string(kPhoneWidth);
  const std::string height = std::to_string(kPhoneHeight);
  return R"(<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<title>手机预览</title>
<style>
html, body { margin: 0; background: #2b2d33; }
body { display: flex; flex-direction: column; align-items: center; padding: 24px 0;
       font: 13px sans-serif; color: #c8c8cc; }
.phone { padding: 16px 12px; border-radius: 48px; background: #0e0e10;
         box-shadow: 0 0 0 2px #5a5a60, 0 16px 48px rgba(0, 0, 0, 0.6); }
iframe { display: block; width: )" +
         width + "px; height: " + height +
         R"(px; border: 0; border-radius: 34px; background: #fff; }
p { margin: 14px 0 0; }
</style>
</head>
<body>
<div class="phone"><iframe id="screen" src=")" +
         std::string(page_file) + R"(" title="手机预览" allow="autoplay; fullscreen"></iframe></div>
<p>手机预览：)" +
         width + " × " + height + R"( 像素的手机屏幕</p>
</body>
</html>
)";
}

std::optional<std::string> WritePhonePreview(std::string_view page, const PreviewHooks& hooks) {
  return ShowPreviewFiles(hooks, {{kPreviewFileName, PreviewBytes(page)},
                                  {kPhoneFrameFileName, PhoneFrameHtml(kPreviewFileName)}});
}

}  // namespace heartpage
