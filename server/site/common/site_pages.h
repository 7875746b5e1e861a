#pragma once

#include <string>
#include <vector>

#include "server/storage/storage.h"

namespace heartpage::server {

// What the settings row says when the operator has not chosen otherwise.
inline constexpr std::string_view kDefaultVersionLabel = "V1.0";
inline constexpr std::string_view kDefaultAnnouncement =
    "欢迎使用 HeartPage 表白网页制作！选一个样式，写下想说的话，一键发布给你的TA。";
inline constexpr std::string_view kSiteName = "HeartPage";

// The site's address without the final slash, from the "host:port" or
// "https://host:port" that clients reach this server at.
std::string PublicOrigin(std::string_view public_host);

// The settings row as clients read it: id, site name, home address,
// announcement, version label, download address. `public_host` is the
// "host:port" that clients reach this server at, or "https://host:port" when
// they reach it over HTTPS.
std::vector<std::string> SettingsRow(const SiteSettings& settings, std::string_view public_host);

// A page of the site's own look: `body` is HTML, `title` text.
std::string SiteHtml(std::string_view title, std::string_view body);

// The home page, the download page and the customer-service page that the
// program's hot-spot opens; UTF-8 HTML.
std::string HomePage(const SiteSettings& settings, std::string_view public_host);
std::string DownloadPage(const SiteSettings& settings, std::string_view public_host);
std::string SupportPage(const SiteSettings& settings, std::string_view public_host);

}  // namespace heartpage::server
