#include "server/site/common/site_pages.h"

#include "text/markup.h"

namespace heartpage::server {

// The public host names its scheme when it is not plain HTTP.
std::string PublicOrigin(std::string_view public_host) {
  return public_host.find("://") != std::string_view::npos ? std::string(public_host)
                                                           : "http://" + std::string(public_host);
}

namespace {

std::string DownloadAddress(const SiteSettings& settings, std::string_view public_host) {
  if (settings.download_url) return *settings.download_url;
  return PublicOrigin(public_host) + "/download";
}

}  // namespace

std::string SiteHtml(std::string_view title, std::string_view body) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  html += EscapeHtml(title);
  html +=
      "</title>\n<style>body{font-family:sans-serif;max-width:40em;margin:3em auto;padding:0 1em;"
      "color:#333}h1{color:#d6336c}a{color:#d6336c}.note{background:#fff0f6;padding:1em;"
      "border-radius:6px}</style>\n</head>\n<body>\n";
  html += body;
  html += "</body>\n</html>\n";
  return html;
}

std::vector<std::string> SettingsRow(const SiteSettings& settings, std::string_view public_host) {
  return {
      "1",
      std::string(kSiteName),
      PublicOrigin(public_host) + "/",
      settings.announcement.value_or(std::string(kDefaultAnnouncement)),
      settings.version_label.value_or(std::string(kDefaultVersionLabel)),
      DownloadAddress(settings, public_host),
  };
}

std::string HomePage(const SiteSettings& settings, std::string_view public_host) {
  const std::vector<std::string> row = SettingsRow(settings, public_host);
  std::string body =
      "<h1>HeartPage 表白网页</h1>\n<p class=\"note\">" + EscapeHtml(row[3]) +
      "</p>\n"
      "<p>用 HeartPage 客户端选一个样式，填上名字和想说的话，就能生成一张专属的表白网页，"
      "发布在本站的 <code>" +
      EscapeHtml(PublicOrigin(public_host)) +
      "/Test/您的文件名</code>。</p>\n"
      "<p><a href=\"/download\">下载客户端</a> · <a href=\"/report\">举报违规网页</a></p>\n";
  return SiteHtml("HeartPage 表白网页", body);
}

std::string DownloadPage(const SiteSettings& settings, std::string_view public_host) {
  const std::vector<std::string> row = SettingsRow(settings, public_host);
  std::string body = "<h1>下载 HeartPage 客户端</h1>\n<p>当前版本：<strong>" + EscapeHtml(row[4]) +
                     "</strong></p>\n";
  if (settings.download_url) {
    body += "<p><a href=\"" + EscapeHtml(*settings.download_url) + "\">下载地址</a></p>\n";
  } else {
    body +=
        "<p>客户端随源代码一起发布：在 Debian 12 上取得源代码后运行 <code>./run.sh</code>，"
        "即可安装依赖、编译并启动程序。</p>\n";
  }
  body += "<p>本站地址：<code>" + EscapeHtml(PublicOrigin(public_host)) +
          "/</code></p>\n<p><a href=\"/\">返回首页</a></p>\n";
  return SiteHtml("下载 HeartPage 客户端", body);
}

std::string SupportPage(const SiteSettings& settings, std::string_view public_host) {
  const std::vector<std::string> row = SettingsRow(settings, public_host);
  const std::string body =
      "<h1>HeartPage 在线客服</h1>\n"
      "<p>常见问题：</p>\n<ul>\n"
      "<li>文件名只能用字母或数字，大写字母会自动变成小写；每台电脑可以拥有一个文件名，"
      "以后上传会覆盖同一个网页。</li>\n"
      "<li>上传成功后，网页地址是 <code>" +
      EscapeHtml(PublicOrigin(public_host)) +
      "/Test/您的文件名</code>，点击“点击复制”即可发给对方。</li>\n"
      "<li>网页里的音乐会在对方第一次点击或触摸页面时开始播放。</li>\n"
      "<li>提示“发现最新版本”时，请到下载页面取得 " +
      EscapeHtml(row[4]) +
      " 版客户端。</li>\n</ul>\n"
      "<p><a href=\"/download\">下载客户端</a> · <a href=\"/\">返回首页</a></p>\n";
  return SiteHtml("HeartPage 在线客服", body);
}

}  // namespace heartpage::server
