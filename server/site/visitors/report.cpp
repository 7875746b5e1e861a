#include "server/site/visitors/report.h"

#include <ctime>
#include <optional>
#include <string>
#include <variant>

#include "protocol/media_kind.h"
#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "server/site/common/http_util.h"
#include "server/site/common/site_pages.h"
#include "server/site/policy/origin_check.h"
#include "server/site/visitors/previews.h"
#include "text/markup.h"
#include "text/utf8.h"

namespace heartpage::server {

namespace http = boost::beast::http;

namespace {

// The form and its answers run nothing, load nothing from elsewhere, post
// only here, and are never framed.
constexpr std::string_view kFormPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
    "frame-ancestors 'none'; base-uri 'none'";

struct Refusal {
  http::status status;
  std::string_view line;
};

struct Fields {
  std::string address;
  std::string reason;
};

// Well-formed UTF-8 that is text: line ends and tabs, no other control
// character, which no one types into a form.
bool IsText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\n' && byte != '\r' && byte != '\t') || byte == 0x7f)
        return false;
      ++i;
      continue;
    }
    std::size_t length = byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc2 ? 2 : 0;
    if (length == 0 || byte > 0xf4 || i + length > text.size()) return false;
    char32_t code = byte & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = (code << 6) | (next & 0x3f);
    }
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    i += length;
  }
  return true;
}

// "page" and "reason", each once, nothing else; both as text within their
// bounds.
std::variant<Fields, Refusal> ReadFields(std::string_view body) {
  std::optional<std::string> address;
  std::optional<std::string> reason;
  for (std::size_t start = 0; start <= body.size();) {
    const std::size_t end = std::min(body.find('&', start), body.size());
    const std::string_view piece = body.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    const std::size_t equals = piece.find('=');
    if (equals == std::string_view::npos)
      return Refusal{http::status::bad_request, "malformed form"};
    const std::string_view name = piece.substr(0, equals);
    std::optional<std::string>* slot = name == "page"     ? &address
                                       : name == "reason" ? &reason
                                                          : nullptr;
    if (slot == nullptr) return Refusal{http::status::bad_request, "unexpected form field"};
    if (slot->has_value()) return Refusal{http::status::bad_request, "repeated form field"};
    *slot = UnescapeFormValue(piece.substr(equals + 1));
    if (!slot->has_value()) return Refusal{http::status::bad_request, "malformed form"};
    if (!IsText(**slot)) return Refusal{http::status::bad_request, "form value is not text"};
  }
  if (!address || !reason) return Refusal{http::status::bad_request, "missing form field"};
  if (address->size() > kMaxReportAddressBytes)
    return Refusal{http::status::payload_too_large, "page address too long"};
  if (reason->size() > kMaxReportReasonBytes)
    return Refusal{http::status::payload_too_large, "reason too long"};
  return Fields{std::move(*address), std::move(*reason)};
}

// What a report is about, from the address a visitor pasted: a published
// page's name, or the path of a preview or a file, of this site; the address
// may come without its scheme, or be the page's name alone. Nothing for
// anything else.
std::optional<std::string> ReportedPage(std::string_view address, const Site& site) {
  address = Trimmed(address);
  if (IsValidPageName(address)) return PageNameKey(address);
  std::string_view rest = address;
  const std::size_t scheme = rest.find("://");
  if (scheme != std::string_view::npos) {
    const std::string_view name = rest.substr(0, scheme);
    if (!EqualsIgnoringCase(name, "http") && !EqualsIgnoringCase(name, "https"))
      return std::nullopt;
    rest.remove_prefix(scheme + 3);
  }
  if (!rest.starts_with('/')) {
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view ours = site.public_host;
    if (const std::size_t at = ours.find("://"); at != std::string_view::npos)
      ours.remove_prefix(at + 3);
    if (HostOfAuthority(rest.substr(0, slash)) != HostOfAuthority(ours)) return std::nullopt;
    rest.remove_prefix(slash);
  }
  std::string_view path = rest.substr(0, rest.find_first_of("?#"));
  if (path.size() > 1 && path.ends_with('/')) path.remove_suffix(1);
  const auto after = [&](std::string_view prefix) -> std::optional<std::string_view> {
    if (path.size() <= prefix.size() || !EqualsIgnoringCase(path.substr(0, prefix.size()), prefix))
      return std::nullopt;
    return path.substr(prefix.size());
  };
  if (const auto name = after(wire::kPagePrefix); name && IsValidPageName(*name))
    return PageNameKey(*name);
  if (const auto token = after(wire::kPreviewPrefix); token && IsValidPreviewToken(*token))
    return std::string(wire::kPreviewPrefix) + std::string(*token);
  if (const auto name = after(wire::kMediaPrefix); name && MediaTypeOfName(*name))
    return std::string(wire::kMediaPrefix) + std::string(*name);
  return std::nullopt;
}

std::string ContactLine(const Site& site) {
  if (site.abuse_contact.empty()) return {};
  const std::string_view shown = site.abuse_contact.starts_with("mailto:")
                                     ? std::string_view(site.abuse_contact).substr(7)
                                     : std::string_view(site.abuse_contact);
  return "<p>也可以直接联系网站管理员：<a href=\"" + EscapeHtml(site.abuse_contact) + "\">" +
         EscapeHtml(shown) + "</a></p>\n";
}

std::string FormPage(const Site& site, std::string_view problem, std::string_view address,
                     std::string_view reason) {
  std::string body =
      "<h1>举报网页</h1>\n"
      "<p>如果本站的某个网页冒充他人、骗取密码或钱财、骚扰他人或含有违法内容，请告诉我们。"
      "举报不需要登录，也不会记录您的身份。</p>\n";
  if (!problem.empty())
    body += "<p class=\"note\"><strong>" + EscapeHtml(problem) + "</strong></p>\n";
  body +=
      "<form method=\"post\" action=\"/report\">\n"
      "<p><label>网页地址<br><input name=\"page\" type=\"text\" maxlength=\"300\" required "
      "style=\"width:100%;box-sizing:border-box\" placeholder=\"" +
      EscapeHtml(PublicOrigin(site.public_host)) + "/Test/文件名\" value=\"" + EscapeHtml(address) +
      "\"></label></p>\n"
      "<p><label>举报理由（最多 600 字）<br><textarea name=\"reason\" rows=\"6\" "
      "maxlength=\"600\" required style=\"width:100%;box-sizing:border-box\">" +
      EscapeHtml(reason) +
      "</textarea></label></p>\n"
      "<p><button type=\"submit\">提交举报</button></p>\n</form>\n";
  body += ContactLine(site);
  body += "<p><a href=\"/\">返回首页</a></p>\n";
  return SiteHtml("举报网页", body);
}

StringResponse Html(const Request& request, http::status status, std::string html) {
  StringResponse response =
      TextResponse(request, status, std::move(html), "text/html; charset=utf-8", "no-store");
  response.set("Content-Security-Policy", kFormPolicy);
  // Not no-referrer: a browser then names no origin on the form's post
  // ("Origin: null"), and the post could not be told from another site's.
  response.set("Referrer-Policy", "same-origin");
  return response;
}

// What no browser posting this site's own form would send: another site's
// page behind it (a report in a visitor's name, unseen), another type, a
// body past what the two fields can take.
std::optional<Refusal> PostProblem(const Request& request, const Site& site) {
  if (!PostedByThisSite(request, site.public_host))
    return Refusal{http::status::forbidden, "reports are taken from this site's own form"};
  std::string_view type = request[http::field::content_type];
  type = Trimmed(type.substr(0, type.find(';')));
  if (!EqualsIgnoringCase(type, "application/x-www-form-urlencoded"))
    return Refusal{http::status::unsupported_media_type,
                   "reports are sent as application/x-www-form-urlencoded"};
  if (request.body().size() > kMaxReportBodyBytes)
    return Refusal{http::status::payload_too_large, "report too large"};
  return std::nullopt;
}

std::string ThanksPage() {
  return SiteHtml("谢谢您的举报",
                  "<h1>谢谢您的举报</h1>\n<p>我们已经收到，会尽快查看这个网页，"
                  "确有违规的会撤下。</p>\n<p><a href=\"/\">返回首页</a></p>\n");
}

// A report ready to keep: what it is about, and why.
struct Checked {
  std::string page;
  Fields fields;
};

// Everything that can be told without the database; a refusal is the
// answer.
std::variant<Checked, StringResponse> Check(const Request& request, const Site& site,
                                            Audit* audit = nullptr) {
  // The log's reason for a refusal made as a page, whose first line says none.
  const auto mend = [&](std::string_view why, std::string_view problem, const Fields& fields) {
    if (audit != nullptr) audit->failure = why;
    return Html(request, http::status::unprocessable_entity,
                FormPage(site, problem, fields.address, fields.reason));
  };
  if (const auto problem = PostProblem(request, site))
    return PlainResponse(request, problem->status, problem->line);
  auto read = ReadFields(request.body());
  if (const auto* refusal = std::get_if<Refusal>(&read))
    return PlainResponse(request, refusal->status, refusal->line);
  Fields& fields = std::get<Fields>(read);
  std::optional<std::string> page = ReportedPage(fields.address, site);
  if (!page)
    return mend("not an address of this site",
                "请填写本站网页的地址，例如 " + PublicOrigin(site.public_host) + "/Test/文件名",
                fields);
  if (Trimmed(fields.reason).empty()) return mend("no reason given", "请写下举报的理由", fields);
  return Checked{std::move(*page), std::move(fields)};
}

Response Post(const Request& request, const Site& site, Audit* audit) {
  if (audit != nullptr) audit->operation = "report";
  auto checked = Check(request, site, audit);
  if (auto* refusal = std::get_if<StringResponse>(&checked)) return std::move(*refusal);
  const Checked& report = std::get<Checked>(checked);
  if (audit != nullptr) audit->name = report.page;
  if (site.storage.reports.AddReport(report.page, Trimmed(report.fields.reason),
                                     std::time(nullptr)) == ReportResult::kFull) {
    if (audit != nullptr) audit->failure = "too many reports wait";
    return Html(request, http::status::insufficient_storage,
                FormPage(site, "待处理的举报太多，暂时无法收下，请稍后再试", report.fields.address,
                         report.fields.reason));
  }
  return Html(request, http::status::ok, ThanksPage());
}

}  // namespace

Response AnswerReport(const Request& request, const Site& site, Audit* audit) {
  if (request.method() == http::verb::post) return Post(request, site, audit);
  std::string address;
  const std::string_view target = request.target();
  if (const std::size_t query = target.find('?'); query != std::string_view::npos) {
    const std::string_view rest = target.substr(query + 1);
    if (rest.starts_with("page=")) {
      std::optional<std::string> given = UnescapeFormValue(rest.substr(5, rest.find('&') - 5));
      if (given && IsText(*given) && given->size() <= kMaxReportAddressBytes)
        address = std::move(*given);
    }
  }
  return Html(request, http::status::ok, FormPage(site, {}, address, {}));
}

Work ReportLane(const Request& request, const Site& site) {
  // Only a report that will be kept costs the sender's rate.
  if (request.method() != http::verb::post ||
      std::holds_alternative<StringResponse>(Check(request, site)))
    return Work::kAtOnce;
  return Work::kReport;
}

}  // namespace heartpage::server
