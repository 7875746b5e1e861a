#include "server/site/visitors/page_gate.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <ctime>

#include "pages/styles.h"
#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "server/site/common/gzip.h"
#include "server/site/common/http_util.h"
#include "server/site/common/site_pages.h"
#include "server/site/policy/origin_check.h"
#include "server/storage/page_code.h"
#include "server/storage/utc_text.h"
#include "text/markup.h"

namespace heartpage::server {

namespace http = boost::beast::http;

namespace {

// "YYYY-MM-DD HH:MM:SS" in UTC (wire::IsUtcTime) as seconds since the epoch.
std::int64_t UtcSeconds(std::string_view text) {
  std::tm tm{};
  tm.tm_year = std::stoi(std::string(text.substr(0, 4))) - 1900;
  tm.tm_mon = std::stoi(std::string(text.substr(5, 2))) - 1;
  tm.tm_mday = std::stoi(std::string(text.substr(8, 2)));
  tm.tm_hour = std::stoi(std::string(text.substr(11, 2)));
  tm.tm_min = std::stoi(std::string(text.substr(14, 2)));
  tm.tm_sec = std::stoi(std::string(text.substr(17, 2)));
  return static_cast<std::int64_t>(timegm(&tm));
}

// The senders are in China, as are most of their readers: the moment is
// told in China's time (UTC+8 all year), and the page's script adds the
// reader's own where it differs. The year only when it is not this one.
constexpr std::int64_t kChinaOffset = 8 * 3600;

std::string ChinaText(std::int64_t seconds, std::int64_t now) {
  const std::time_t time = static_cast<std::time_t>(seconds + kChinaOffset);
  const std::time_t today = static_cast<std::time_t>(now + kChinaOffset);
  std::tm at{}, this_year{};
  gmtime_r(&time, &at);
  gmtime_r(&today, &this_year);
  char text[64];
  if (at.tm_year == this_year.tm_year)
    std::snprintf(text, sizeof text, "%d月%d日 %02d:%02d", at.tm_mon + 1, at.tm_mday, at.tm_hour,
                  at.tm_min);
  else
    std::snprintf(text, sizeof text, "%d年%d月%d日 %02d:%02d", at.tm_year + 1900, at.tm_mon + 1,
                  at.tm_mday, at.tm_hour, at.tm_min);
  return text;
}

// How long until the moment, as the script counts it down, for a reader
// whose page runs no script.
std::string LeftText(std::int64_t left) {
  char text[48];
  const std::int64_t days = left / 86400;
  const int hours = static_cast<int>(left % 86400 / 3600);
  const int minutes = static_cast<int>(left % 3600 / 60);
  const int seconds = static_cast<int>(left % 60);
  if (days > 0)
    std::snprintf(text, sizeof text, "%lld 天 %02d:%02d:%02d", static_cast<long long>(days), hours,
                  minutes, seconds);
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", hours, minutes, seconds);
  return text;
}

// The one script of both pages: the countdown, which loads the page at its
// moment by the server's clock (the reader's may be wrong), and the code's
// form, which stays on the page to say what was wrong.
constexpr std::string_view kScript = R"js(
(function () {
  var gate = document.getElementById('gate');
  var opens = Number(gate.getAttribute('data-opens')) * 1000;
  var skew = Number(gate.getAttribute('data-now')) * 1000 - Date.now();
  var count = document.getElementById('count');
  var local = document.getElementById('local');
  if (opens && local && new Date(opens).getTimezoneOffset() !== -480) {
    try {
      // The zone after the time it qualifies, in brackets as the Beijing
      // line has it; the year only when it is not this one.
      var at = new Date(opens), part = {};
      new Intl.DateTimeFormat('zh-CN', {
        year: 'numeric', month: 'numeric', day: 'numeric', hour: '2-digit', minute: '2-digit',
        hourCycle: 'h23', timeZoneName: 'short'}).formatToParts(at).forEach(function (p) {
        part[p.type] = p.value;
      });
      local.textContent = '你所在地的时间：' +
          (at.getFullYear() === new Date().getFullYear() ? '' : part.year + '年') +
          part.month + '月' + part.day + '日 ' + part.hour + ':' + part.minute + '（' +
          part.timeZoneName + '）';
      local.hidden = false;
    } catch (e) {}
  }
  function two(n) { return (n < 10 ? '0' : '') + n; }
  function tick() {
    var left = opens - (Date.now() + skew);
    if (left <= 0) {
      count.textContent = '正在为你开启…';
      location.reload();
      return;
    }
    var s = Math.ceil(left / 1000), d = Math.floor(s / 86400);
    count.textContent = (d > 0 ? d + ' 天 ' : '') + two(Math.floor(s % 86400 / 3600)) + ':' +
        two(Math.floor(s % 3600 / 60)) + ':' + two(s % 60);
    setTimeout(tick, left % 1000 || 1000);
  }
  if (opens && count) tick();
  var form = document.getElementById('unlock');
  if (!form) return;
  form.addEventListener('submit', function (event) {
    event.preventDefault();
    var say = document.getElementById('say');
    var button = form.querySelector('button');
    button.disabled = true;
    fetch(form.action, {method: 'POST', credentials: 'same-origin',
                        body: new URLSearchParams(new FormData(form))}).then(function (answer) {
      // Read whole, so that nothing of it is still loading when the page
      // goes on to the page it opened.
      return answer.text().then(function (line) { answer.line = line; return answer; });
    }).then(function (answer) {
      if (answer.status === 204) {
        location.replace(gate.getAttribute('data-page'));
        return;
      }
      button.disabled = false;
      if (answer.status === 403) {
        say.textContent = '口令不对，再想想？';
      } else if (answer.status === 429 && answer.line.indexOf('wait for your turn') === 0) {
        // The turn is kept for this reader: wait for it, then try again.
        var due = Date.now() + (Number(answer.headers.get('Retry-After')) || 30) * 1000;
        button.disabled = true;
        (function wait() {
          var left = Math.ceil((due - Date.now()) / 1000);
          if (left <= 0) {
            say.textContent = '正在为你再试一次…';
            form.requestSubmit();
            return;
          }
          say.textContent = '这份心意被试得太多了，已为你排好队：请等 ' +
              (left >= 60 ? Math.floor(left / 60) + ' 分 ' : '') + left % 60 + ' 秒，到时会自动再试';
          setTimeout(wait, 1000);
        })();
      } else if (answer.status === 429) {
        var minutes = Math.ceil(Number(answer.headers.get('Retry-After')) / 60) || 10;
        say.textContent = '试得太多了，请 ' + minutes + ' 分钟后再试';
      } else {
        say.textContent = '暂时打不开，请稍后再试';
      }
    }, function () {
      button.disabled = false;
      say.textContent = '网络不通，请稍后再试';
    });
  });
})();
)js";

// The policy of both pages: the site's own origin, only the script above,
// talking to the site alone, never framed.
const std::string& GatePolicy() {
  static const std::string policy = [] {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(kScript.data(), kScript.size(), digest, &size, EVP_sha256(), nullptr);
    unsigned char base64[2 * EVP_MAX_MD_SIZE];
    const int length = EVP_EncodeBlock(base64, digest, static_cast<int>(size));
    return "default-src 'none'; script-src 'sha256-" +
           std::string(reinterpret_cast<const char*>(base64), static_cast<std::size_t>(length)) +
           "'; style-src 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; "
           "form-action 'self'; "
           "frame-ancestors 'none'; base-uri 'none'";
  }();
  return policy;
}

// Both pages wear the colours of the page they stand for, its artwork
// drawn by the site, a heart beating over it and a few more rising, so
// that the wait looks like what comes; the sender's words and pictures
// never. Everything moves by transforms alone, and nothing for a reader who
// asks for less motion. On a phone on its side the picture stands beside
// the words, so that the whole page fits without scrolling. A button's
// ground (--button) is the accent darkened where white on the accent
// would read below 4.5:1.
constexpr std::string_view kStyle =
    ":root{--bg1:#fff0f6;--bg2:#ffdeeb;--ink:#333;--accent:#d6336c;--on-accent:#fff;"
    "--muted:#868e96;--panel:#fff;--count:#a61e4d;--line:#f783ac}"
    ".s1{--bg1:#1a0814;--bg2:#07030a;--ink:#ffe3ef;--accent:#ff4d8d;--muted:#c9a3b6;"
    "--panel:rgba(255,255,255,.09);--count:#ff8fb8;--line:#ff4d8d;--button:#ce3e72}"
    ".s2{--bg1:#fff7f9;--bg2:#fde1e9;--ink:#5c3a44;--accent:#e05d86;--muted:#9a7883;"
    "--panel:#fff;--count:#c2416b;--line:#f3a6bd;--button:#be4f71}"
    ".s3{--bg1:#fffdf4;--bg2:#fbeadb;--ink:#5a4033;--accent:#e75480;--muted:#94806f;"
    "--panel:#fff;--count:#c23b67;--line:#f0a3b8;--button:#c6486e}"
    ".s4{--bg1:#f8ab35;--bg2:#ee8519;--ink:#fff;--accent:#fff;--on-accent:#ba5a09;"
    "--muted:#fff4e3;--panel:rgba(255,255,255,.24);--count:#fff;--line:#fff}"
    ".s5{--bg1:#031203;--bg2:#000;--ink:#8cff8c;--accent:#18d418;--on-accent:#001a00;"
    "--muted:#5fc25f;--panel:rgba(0,255,0,.08);--count:#6dff6d;--line:#18d418}"
    ".s5 main{font-family:ui-monospace,'Noto Sans Mono CJK SC',monospace}"
    ".s6{--bg1:#ffc8aa;--bg2:#ffe7d8;--ink:#6b3d2e;--accent:#d9532f;--muted:#93624f;"
    "--panel:rgba(255,255,255,.66);--count:#b8431f;--line:#f09a7b;--button:#c74c2b}"
    ".s7{--bg1:#ffc1d9;--bg2:#ffeaf3;--ink:#6a2742;--accent:#d81b60;--muted:#955a72;"
    "--panel:#fff;--count:#c2185b;--line:#f48fb1}"
    ".s8{--bg1:#2b2430;--bg2:#17161a;--ink:#f6e8e2;--accent:#ff6f61;--muted:#b3a6a2;"
    "--panel:rgba(255,255,255,.09);--count:#ffab9e;--line:#ff8a7a;--button:#bf5348}"
    "html{-webkit-text-size-adjust:100%;text-size-adjust:100%}"
    "body{margin:0;min-height:100vh;min-height:100dvh;display:flex;align-items:center;"
    "justify-content:center;overflow-x:hidden;"
    "font-family:-apple-system,'PingFang SC','Microsoft YaHei','Noto Sans CJK SC',sans-serif;"
    "background:linear-gradient(160deg,var(--bg1),var(--bg2));color:var(--ink);"
    "text-align:center}"
    "main{position:relative;z-index:1;box-sizing:border-box;width:100%;padding:1.2em 1.5em;"
    "max-width:26em}"
    ".art{position:relative;margin:0 auto 1em;max-width:20em;border-radius:16px;overflow:hidden;"
    "aspect-ratio:40/21;box-shadow:0 6px 24px rgba(0,0,0,.18)}"
    ".art img{display:block;width:100%;height:100%;object-fit:cover;"
    "animation:drift 16s ease-in-out infinite alternate}"
    "@keyframes drift{from{transform:scale(1)}to{transform:scale(1.08) translateX(-2%)}}"
    ".heart{font-size:64px;line-height:1;color:var(--accent);animation:beat 1.4s infinite}"
    ".art .heart{position:absolute;right:5%;bottom:7%;width:1em;font-size:38px;color:#fff;"
    "text-shadow:0 2px 10px rgba(0,0,0,.4)}"
    "@keyframes beat{0%,100%{transform:scale(1)}50%{transform:scale(1.12)}}"
    ".rise{position:fixed;inset:0;overflow:hidden;pointer-events:none;z-index:0}"
    ".rise i{position:absolute;bottom:-40px;font-style:normal;font-size:22px;color:var(--accent);"
    "opacity:0;animation:rise 11s linear infinite}"
    ".rise i::before{content:'\\2764'}"
    ".rise i:nth-child(1){left:8%}.rise i:nth-child(2){left:27%;animation-delay:-3.6s;"
    "font-size:15px}.rise i:nth-child(3){left:49%;animation-delay:-7.3s}"
    ".rise i:nth-child(4){left:68%;animation-delay:-1.8s;font-size:28px}"
    ".rise i:nth-child(5){left:86%;animation-delay:-5.5s;font-size:16px}"
    "@keyframes rise{0%{transform:translateY(0) scale(.7);opacity:0}15%{opacity:.45}"
    "85%{opacity:.3}100%{transform:translateY(-110vh) scale(1.15);opacity:0}}"
    "@media (prefers-reduced-motion:reduce){.heart,.art img{animation:none}.rise{display:none}}"
    "h1{font-size:1.35em;line-height:1.6;color:var(--accent);font-weight:600;margin:.3em 0;"
    "word-break:keep-all}"
    ".zone,.local{color:var(--muted);font-size:.9em;margin:.2em 0}"
    ".label{margin:1.2em 0 0;color:var(--muted);font-size:.9em}"
    ".count{font-size:2.1em;font-variant-numeric:tabular-nums;color:var(--count);margin:.2em 0}"
    ".hint{background:var(--panel);border-radius:10px;padding:.8em 1em;margin:1em 0;"
    "color:var(--ink)}"
    "input{font:inherit;font-size:1.1em;padding:.6em .8em;border:1px solid var(--line);"
    "border-radius:10px;width:100%;box-sizing:border-box;text-align:center;"
    "background:var(--panel);color:var(--ink)}"
    "input::placeholder{color:var(--muted)}"
    "button{margin-top:.8em;font:inherit;font-size:1.1em;padding:.55em 2.4em;border:0;"
    "border-radius:999px;background:var(--button,var(--accent));color:var(--on-accent)}"
    "button:disabled{opacity:.6}"
    ".say{min-height:1.5em;color:var(--accent);margin:.6em 0}"
    ".foot{margin:2em 0 0;font-size:.72em;opacity:.7}.foot a{color:var(--muted)}"
    "@media (orientation:landscape) and (max-height:540px){"
    "#gate{display:grid;grid-template-columns:minmax(0,1fr) minmax(0,1.2fr);column-gap:1.8em;"
    "align-items:center;max-width:48em;padding:.8em 1.5em}"
    ".art{margin:0;max-width:none}.words{min-width:0}"
    "h1{font-size:1.15em;line-height:1.5}.label{margin-top:.6em}.count{font-size:1.8em}"
    ".hint{margin:.5em 0;padding:.55em .9em}input{padding:.45em .8em}"
    "button{margin-top:.5em;padding:.45em 2.4em}.say{margin:.4em 0}.foot{margin-top:.6em}}";

// The site's card, not the page's: a chat shows this for the link, and it
// says nothing of the sender's.
constexpr std::string_view kCardTitle = "有一份心意在等你";
constexpr std::string_view kCardLine =
    "这是一张 HeartPage 表白网页，到约定的时刻或说出口令就能打开。";

// The style a stored page was built in, read off its head (inflated where
// only its compressed form is kept). What a sender typed in front of its
// assets could name another: that only dresses her own page's waiting page.
int StyleOf(const StoredPage& page) {
  constexpr std::size_t kLooked = 16 * 1024;
  if (!page.bytes.empty()) return StyleOfPage(std::string_view(page.bytes).substr(0, kLooked));
  return page.compressed.empty() ? 0 : StyleOfPage(GunzipPrefix(page.compressed, kLooked));
}

// What both pages are dressed in: the style's colours and artwork, and
// where a chat finds the artwork for the link's card.
struct Look {
  int style = 0;
  std::string origin;  // the site's, as its visitors reach it
};

std::string ArtworkPath(int style) {
  // No style found: the pink of the site's own pages and its petal heart.
  return "/biaobai/cards/style" + std::to_string(style == 0 ? 2 : style) + ".jpg";
}

std::string GateHtml(std::string_view title, std::string_view attributes, std::string_view body,
                     const Look& look) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      // No icon to ask the site for: the policy would refuse it.
      "<link rel=\"icon\" href=\"data:,\">\n<title>";
  html += title;
  html += "</title>\n<meta name=\"description\" content=\"";
  html += kCardLine;
  html +=
      "\">\n<meta property=\"og:type\" content=\"website\">\n<meta property=\"og:title\" "
      "content=\"";
  html += kCardTitle;
  html += "\">\n<meta property=\"og:description\" content=\"";
  html += kCardLine;
  html += "\">\n<meta property=\"og:image\" content=\"";
  html += look.origin + ArtworkPath(look.style);
  html +=
      "\">\n<meta property=\"og:image:width\" content=\"1200\">\n"
      "<meta property=\"og:image:height\" content=\"630\">\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body";
  if (look.style != 0) html += " class=\"s" + std::to_string(look.style) + "\"";
  html +=
      ">\n<div class=\"rise\" aria-hidden=\"true\"><i></i><i></i><i></i><i></i><i></i></div>\n"
      "<main id=\"gate\" ";
  html += attributes;
  html += ">\n<div class=\"art\" aria-hidden=\"true\"><img src=\"";
  html += ArtworkPath(look.style);
  html +=
      "\" alt=\"\" width=\"1200\" height=\"630\"><span class=\"heart\">&#10084;</span></div>\n"
      "<div class=\"words\">\n";
  html += body;
  html +=
      "<p class=\"foot\"><a href=\"/\">HeartPage 表白网页</a> · <a href=\"/report\">举报</a></p>\n"
      "</div>\n</main>\n<script>";
  html += kScript;
  html += "</script>\n</body>\n</html>\n";
  return html;
}

std::string GateAttributes(std::string_view name, std::int64_t opens, std::int64_t now) {
  return "data-page=\"" + std::string(wire::kPagePrefix) + std::string(name) + "\" data-opens=\"" +
         std::to_string(opens) + "\" data-now=\"" + std::to_string(now) + "\"";
}

std::string WaitingPage(std::string_view name, std::int64_t opens, std::int64_t now,
                        const Look& look) {
  const std::string when = ChinaText(opens, now);
  const std::string body = "<h1>有一份心意将于 <time datetime=\"" + UtcText(opens) + "Z\">" + when +
                           "</time> 为你开启</h1>\n"
                           "<p class=\"zone\">（北京时间）</p>\n"
                           "<p class=\"local\" id=\"local\" hidden></p>\n"
                           "<p class=\"label\">距离开启还有</p>\n"
                           "<p class=\"count\" id=\"count\" role=\"timer\">" +
                           LeftText(opens - now) +
                           "</p>\n"
                           "<noscript><p class=\"zone\">到时间后请刷新本页</p></noscript>\n";
  return GateHtml("有一份心意将于 " + when + " 为你开启", GateAttributes(name, opens, now), body,
                  look);
}

std::string AskingPage(std::string_view name, std::string_view hint, std::int64_t now,
                       const Look& look) {
  const std::string body =
      "<h1>这份心意需要口令才能打开</h1>\n"
      "<p class=\"hint\">提示：" +
      EscapeHtml(hint) +
      "</p>\n"
      "<form id=\"unlock\" method=\"post\" action=\"" +
      std::string(kUnlockPrefix) + std::string(name) +
      "\">\n"
      "<input name=\"code\" type=\"text\" maxlength=\"32\" required autocomplete=\"off\" "
      "autocapitalize=\"off\" placeholder=\"请输入口令\" aria-label=\"口令\">\n"
      "<button type=\"submit\">打开</button>\n"
      "<p class=\"say\" id=\"say\" role=\"alert\"></p>\n</form>\n";
  return GateHtml("需要口令才能打开", GateAttributes(name, 0, now), body, look);
}

StringResponse GateResponse(const Request& request, std::string html) {
  StringResponse response = TextResponse(request, http::status::ok, std::move(html),
                                         "text/html; charset=utf-8", "no-store");
  response.set("Content-Security-Policy", GatePolicy());
  // Not no-referrer: a browser then names no origin on the code's post
  // ("Origin: null"), which could not be told from a published page's.
  response.set("Referrer-Policy", "same-origin");
  return response;
}

// What the cookie holds for the page's version: a keyed hash under the
// server's key, which every server sharing the database holds, of the name
// and the code's own hash, whose salt is new with every store. The record
// separators keep these apart from any machine identifier hashed so.
std::string UnlockToken(const Site& site, std::string_view name, const StoredPage& page) {
  std::string input =
      "\x1e"
      "unlock\x1e";
  input += name;
  input += '\x1e';
  input += page.gate.code_hash;
  input += '\x1e';
  input += std::to_string(page.modified);
  return site.storage.claims.HashMachineId(input).hex();
}

bool CarriesToken(const Request& request, std::string_view token) {
  const auto [first, last] = request.equal_range(http::field::cookie);
  for (auto line = first; line != last; ++line) {
    std::string_view rest = line->value();
    while (!rest.empty()) {
      const std::size_t end = std::min(rest.find(';'), rest.size());
      std::string_view pair = rest.substr(0, end);
      rest.remove_prefix(std::min(end + 1, rest.size()));
      while (pair.starts_with(' ')) pair.remove_prefix(1);
      if (!pair.starts_with(kUnlockCookie) || pair.substr(kUnlockCookie.size(), 1) != "=") continue;
      const std::string_view value = pair.substr(kUnlockCookie.size() + 1);
      if (value.size() == token.size() &&
          CRYPTO_memcmp(value.data(), token.data(), token.size()) == 0)
        return true;
    }
  }
  return false;
}

// What a try before its turn of the page's pace is told; the asking page
// counts down to the turn and tries again by itself.
constexpr std::string_view kTurnLine = "wait for your turn at this code";

struct Refusal {
  http::status status;
  std::string_view line;
};

// The code a body sends, when it sends one as the page's form does.
std::optional<std::string> CodeIn(std::string_view body) {
  if (!body.starts_with("code=") || body.find('&') != std::string_view::npos) return std::nullopt;
  std::optional<std::string> code = UnescapeFormValue(body.substr(5));
  if (!code || wire::CanonicalCode(*code).empty()) return std::nullopt;
  wire::PageSettings as_sent{{}, *code, "-"};
  if (!wire::PageSettingsProblem(as_sent).empty()) return std::nullopt;
  return code;
}

std::optional<Refusal> UnlockProblem(const Request& request, std::string_view name,
                                     const Site& site) {
  if (!PostedByThisSite(request, site.public_host))
    return Refusal{http::status::forbidden, "codes are taken from this site's own page"};
  if (!IsValidPageName(name)) return Refusal{http::status::not_found, "no such page"};
  if (request.body().size() > kMaxUnlockBodyBytes)
    return Refusal{http::status::payload_too_large, "body too large"};
  std::string_view type = request[http::field::content_type];
  type = type.substr(0, type.find(';'));
  while (type.ends_with(' ')) type.remove_suffix(1);
  if (!EqualsIgnoringCase(type, "application/x-www-form-urlencoded"))
    return Refusal{http::status::unsupported_media_type,
                   "sent as application/x-www-form-urlencoded"};
  if (!CodeIn(request.body()))
    return Refusal{http::status::bad_request, "the body is code= and the code, as text"};
  return std::nullopt;
}

StringResponse Line(const Request& request, http::status status, std::string_view line) {
  StringResponse response = PlainResponse(request, status, line);
  response.set(http::field::cache_control, "no-store");
  return response;
}

}  // namespace

// Where no page stands under a name (given up, renamed, never made): a
// visitor may hold the address on a poster, so the site says so in the
// waiting page's look, in words she reads, with nothing of anyone's page.
StringResponse NoPageResponse(const Request& request) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<link rel=\"icon\" href=\"data:,\">\n<title>这个网页已经不在了</title>\n<style>";
  html += kStyle;
  html +=
      "</style>\n</head>\n<body>\n<main>\n<div class=\"heart\" "
      "aria-hidden=\"true\">&#10084;</div>\n"
      "<h1>这个网页已经不在了</h1>\n"
      "<p class=\"zone\">它的主人可能换了名字，或者已经把它收回。</p>\n"
      "<p class=\"foot\"><a href=\"/\">HeartPage 表白网页</a></p>\n</main>\n</body>\n</html>\n";
  StringResponse response = TextResponse(request, http::status::not_found, std::move(html),
                                         "text/html; charset=utf-8", "no-cache");
  response.set("Content-Security-Policy", GatePolicy());
  return response;
}

PageGate GateOf(const wire::PageSettings& settings) {
  PageGate gate;
  if (!settings.opens.empty()) gate.opens = UtcSeconds(settings.opens);
  if (!settings.code.empty()) gate.code_hash = HashPageCode(settings.code);
  gate.hint = settings.hint;
  return gate;
}

GateSettings SettingsOf(const PageGate& gate) {
  return {gate.opens != 0 ? UtcText(gate.opens) : std::string(), !gate.code_hash.empty(),
          gate.hint};
}

std::optional<Response> HeldBack(const Request& request, std::string_view name,
                                 const StoredPage& page, const Site& site, std::int64_t now) {
  const auto look = [&] { return Look{StyleOf(page), PublicOrigin(site.public_host)}; };
  if (page.gate.opens > now)
    return GateResponse(request, WaitingPage(name, page.gate.opens, now, look()));
  if (!page.gate.code_hash.empty() && !CarriesToken(request, UnlockToken(site, name, page)))
    return GateResponse(request, AskingPage(name, page.gate.hint, now, look()));
  return std::nullopt;
}

Response AnswerUnlock(const Request& request, std::string_view name, const Site& site,
                      Audit* audit) {
  if (audit != nullptr) {
    audit->operation = "unlock";
    audit->name = name;
  }
  if (const auto problem = UnlockProblem(request, name, site))
    return Line(request, problem->status, problem->line);
  const std::string key = PageNameKey(name);
  // Its gate is all that counts here: the smaller form.
  const std::shared_ptr<const StoredPage> page =
      site.storage.pages.LoadForm(key, PageForm::kCompressed);
  if (!page)
    return site.storage.pages.WasTakenDown(key)
               ? Line(request, http::status::gone, "taken down by its owner")
               : Line(request, http::status::not_found, "no such page");
  if (page->withheld)
    return Line(request, static_cast<http::status>(wire::status::kWithdrawn),
                "taken down by the site's operator");
  const std::int64_t now = std::time(nullptr);
  if (page->gate.code_hash.empty())
    return Line(request, http::status::conflict, "this page asks for no code");
  if (page->gate.opens > now) return Line(request, http::status::conflict, "not open yet");
  // Counted before the hash is made: a try refused costs no CPU.
  const std::string_view visitor = audit != nullptr ? audit->sender.key : std::string_view();
  const UnlockVerdict verdict = site.storage.receipts.TakeUnlockTry(key, visitor, now);
  if (!verdict.allowed)
    return TryLater(request, http::status::too_many_requests,
                    std::chrono::seconds(verdict.retry_after),
                    verdict.waits_turn ? kTurnLine : "too many tries at this code");
  if (!PageCodeMatches(*CodeIn(request.body()), page->gate.code_hash))
    return Line(request, http::status::forbidden, "wrong code");
  StringResponse response = TextResponse(request, http::status::no_content, {}, kPlainText);
  response.set(http::field::cache_control, "no-store");
  response.erase(http::field::content_type);
  response.erase(http::field::content_length);
  std::string cookie = std::string(kUnlockCookie) + "=" + UnlockToken(site, key, *page) +
                       "; Path=" + std::string(wire::kPagePrefix) + key +
                       "; Max-Age=" + std::to_string(kUnlockCookieSeconds) +
                       "; HttpOnly; SameSite=Lax";
  if (PublicOrigin(site.public_host).starts_with("https://")) cookie += "; Secure";
  response.set(http::field::set_cookie, cookie);
  return response;
}

Work UnlockLane(const Request& request, std::string_view name, const Site& site) {
  return UnlockProblem(request, name, site) ? Work::kAtOnce : Work::kVisit;
}

}  // namespace heartpage::server
