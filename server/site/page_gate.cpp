#include "server/site/page_gate.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <ctime>

#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "server/site/http_util.h"
#include "server/site/origin_check.h"
#include "server/site/site_pages.h"
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
      // The zone goes after the time it qualifies, the year only when it
      // is not this one.
      var at = new Date(opens), part = {};
      new Intl.DateTimeFormat('zh-CN', {
        year: 'numeric', month: 'numeric', day: 'numeric', hour: '2-digit', minute: '2-digit',
        hourCycle: 'h23', timeZoneName: 'short'}).formatToParts(at).forEach(function (p) {
        part[p.type] = p.value;
      });
      local.textContent = '你所在地的时间：' +
          (at.getFullYear() === new Date().getFullYear() ? '' : part.year + '年') +
          part.month + '月' + part.day + '日 ' + part.hour + ':' + part.minute + ' ' +
          part.timeZoneName;
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
           "'; style-src 'unsafe-inline'; img-src data:; connect-src 'self'; "
           "form-action 'self'; "
           "frame-ancestors 'none'; base-uri 'none'";
  }();
  return policy;
}

constexpr std::string_view kStyle =
    "body{margin:0;min-height:100vh;display:flex;align-items:center;justify-content:center;"
    "font-family:-apple-system,'PingFang SC','Microsoft YaHei','Noto Sans CJK SC',sans-serif;"
    "background:linear-gradient(160deg,#fff0f6,#ffdeeb);color:#333;text-align:center}"
    "main{padding:2em 1.5em;max-width:26em}"
    ".heart{font-size:64px;line-height:1;color:#d6336c;animation:beat 1.4s infinite}"
    "@keyframes beat{0%,100%{transform:scale(1)}50%{transform:scale(1.12)}}"
    "@media (prefers-reduced-motion:reduce){.heart{animation:none}}"
    "h1{font-size:1.35em;line-height:1.7;color:#d6336c;font-weight:600;margin:.8em 0 .3em;"
    "word-break:keep-all}"
    ".zone,.local{color:#868e96;font-size:.9em;margin:.2em 0}"
    ".label{margin:1.6em 0 0;color:#868e96;font-size:.9em}"
    ".count{font-size:2.1em;font-variant-numeric:tabular-nums;color:#a61e4d;margin:.2em 0}"
    ".hint{background:#fff;border-radius:10px;padding:.8em 1em;margin:1.2em 0;color:#495057}"
    "input{font-size:1.1em;padding:.65em .8em;border:1px solid #f783ac;border-radius:10px;"
    "width:100%;box-sizing:border-box;text-align:center}"
    "button{margin-top:.9em;font-size:1.1em;padding:.6em 2.4em;border:0;border-radius:999px;"
    "background:#d6336c;color:#fff}button:disabled{opacity:.6}"
    ".say{min-height:1.5em;color:#c92a2a;margin:.8em 0}"
    ".foot{margin-top:3em;font-size:.8em}.foot a{color:#adb5bd}";

// The site's card, not the page's: a chat shows this for the link, and it
// says nothing of the sender's.
constexpr std::string_view kCardTitle = "有一份心意在等你";
constexpr std::string_view kCardLine =
    "这是一张 HeartPage 表白网页，到约定的时刻或说出口令就能打开。";

std::string GateHtml(std::string_view title, std::string_view attributes, std::string_view body) {
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
  html += "\">\n<style>";
  html += kStyle;
  html += "</style>\n</head>\n<body>\n<main id=\"gate\" ";
  html += attributes;
  html += ">\n<div class=\"heart\" aria-hidden=\"true\">&#10084;</div>\n";
  html += body;
  html +=
      "<p class=\"foot\"><a href=\"/\">HeartPage 表白网页</a> · <a href=\"/report\">举报</a></p>\n"
      "</main>\n<script>";
  html += kScript;
  html += "</script>\n</body>\n</html>\n";
  return html;
}

std::string GateAttributes(std::string_view name, std::int64_t opens, std::int64_t now) {
  return "data-page=\"" + std::string(wire::kPagePrefix) + std::string(name) + "\" data-opens=\"" +
         std::to_string(opens) + "\" data-now=\"" + std::to_string(now) + "\"";
}

std::string WaitingPage(std::string_view name, std::int64_t opens, std::int64_t now) {
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
  return GateHtml("有一份心意将于 " + when + " 为你开启", GateAttributes(name, opens, now), body);
}

std::string AskingPage(std::string_view name, std::string_view hint, std::int64_t now) {
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
  return GateHtml("需要口令才能打开", GateAttributes(name, 0, now), body);
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
  if (page.gate.opens > now) return GateResponse(request, WaitingPage(name, page.gate.opens, now));
  if (!page.gate.code_hash.empty() && !CarriesToken(request, UnlockToken(site, name, page)))
    return GateResponse(request, AskingPage(name, page.gate.hint, now));
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
