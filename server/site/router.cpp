#include "server/site/router.h"

#include <ctime>
#include <optional>

#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "server/site/common/gzip.h"
#include "server/site/common/http_util.h"
#include "server/site/common/site_pages.h"
#include "server/site/endpoint/endpoint.h"
#include "server/site/endpoint/maker.h"
#include "server/site/files/file_answers.h"
#include "server/site/files/maker_files.h"
#include "server/site/files/media.h"
#include "server/site/policy/origin_check.h"
#include "server/site/visitors/page_gate.h"
#include "server/site/visitors/previews.h"
#include "server/site/visitors/receipts.h"
#include "server/site/visitors/report.h"
#include "server/site/visitors/security_txt.h"

namespace heartpage::server {

namespace http = boost::beast::http;

namespace {

StringResponse MethodNotAllowed(const Request& request, std::string_view allowed) {
  StringResponse response =
      PlainResponse(request, http::status::method_not_allowed, "method not allowed");
  response.set(http::field::allow, allowed);
  return response;
}

// The answers, each given what follows its route's prefix (an exact route:
// the path itself).

Response Endpoint(const Request& request, std::string_view, const Site& site, const Routed& routed,
                  Audit* audit) {
  if (SentByWebPage(request))
    return PlainResponse(request, http::status::forbidden, "requests from web pages are refused");
  // Its lane read the body; one routed without it is read here.
  EndpointReply reply =
      routed.endpoint ? HandleEndpoint(site.storage, *routed.endpoint, site.public_host, audit)
                      : HandleEndpoint(site.storage, request.body(), site.public_host, audit);
  StringResponse response =
      TextResponse(request, static_cast<http::status>(reply.status), std::move(reply.body),
                   reply.status == 200 ? "text/plain; charset=gbk" : kPlainText, "no-store");
  if (reply.retry_after > 0)
    response.set(http::field::retry_after, std::to_string(reply.retry_after));
  return response;
}

Response SitePage(const Request& request, std::string_view path, const Site& site, const Routed&,
                  Audit*) {
  const SiteSettings settings = site.storage.settings.LoadSettings();
  return TextResponse(request, http::status::ok,
                      path == "/download"  ? DownloadPage(settings, site.public_host)
                      : path == "/support" ? SupportPage(settings, site.public_host)
                                           : HomePage(settings, site.public_host),
                      "text/html; charset=utf-8", "no-cache");
}

// What a visitor reads where a page was taken down by its owner.
StringResponse TakenDown(const Request& request) {
  return TextResponse(
      request, http::status::gone,
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>网页已撤下</title></head>\n<body style=\"font-family:sans-serif;text-align:center;"
      "padding-top:20vh;color:#555\"><h1>网页已撤下</h1><p>这个网页已被它的主人撤下。</p>"
      "<p><a href=\"/report\" style=\"color:#888\">举报违规网页</a></p></body></html>\n",
      "text/html; charset=utf-8", "no-cache");
}

// What a visitor reads where the site's operator took a page down. The
// answer's own status says why, for whatever reads it without a person.
StringResponse Withdrawn(const Request& request) {
  return TextResponse(
      request, static_cast<http::status>(wire::status::kWithdrawn),
      "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>网页已被撤下</title></head>\n<body style=\"font-family:sans-serif;text-align:center;"
      "padding-top:20vh;color:#555\"><h1>网页已被撤下</h1><p>该网页因违反使用规则已被撤下</p>"
      "<p><a href=\"/report\" style=\"color:#888\">举报违规网页</a></p></body></html>\n",
      "text/html; charset=utf-8", "no-cache");
}

// A page learns its compressed bytes the first time it is read after it
// was stored, on the storage thread that read it, and keeps them in the
// database: no page is compressed twice.
std::shared_ptr<const StoredPage> WithCompressed(std::shared_ptr<const StoredPage> page,
                                                 std::string_view key, const Site& site) {
  StoredPage known{page->bytes,    page->modified, page->etag, {}, GzipIfWorthIt(page->bytes),
                   page->withheld, page->gate};
  site.storage.pages.KeepCompressed(key, known.etag, known.compressed);
  return std::make_shared<const StoredPage>(std::move(known));
}

Response PublishedPage(const Request& request, std::string_view name, const Site& site,
                       const Routed& routed, Audit* audit) {
  // A chat or a hand may add a slash: the page is the same, at one address.
  if (name.ends_with('/') && IsValidPageName(name.substr(0, name.size() - 1))) {
    StringResponse moved = TextResponse(request, http::status::moved_permanently, {}, kPlainText);
    const std::string_view target = request.target();
    const std::size_t query = target.find('?');
    moved.set(http::field::location,
              std::string(wire::kPagePrefix) + std::string(name.substr(0, name.size() - 1)) +
                  std::string(query == std::string_view::npos ? std::string_view()
                                                              : target.substr(query)));
    return moved;
  }
  if (!IsValidPageName(name)) return NoPageResponse(request);
  const std::string key = PageNameKey(name);
  std::shared_ptr<const StoredPage> page = site.storage.pages.LoadForm(key, FormFor(request));
  // What the reader is sent is what a read past the cache costs them: a
  // page held back costs its small stand-in, not the bytes it stands for.
  const auto charge = [&](std::size_t bytes) {
    if (routed.reads_page && audit != nullptr) audit->page_bytes_read = bytes;
  };
  if (!page && site.storage.pages.WasTakenDown(key)) return TakenDown(request);
  if (!page) return NoPageResponse(request);
  if (page->withheld) return Withdrawn(request);
  // Before the gate: a page the cache does not know compressed it never
  // keeps, and a page held back would then be read from the database at
  // every look at its stand-in.
  if (page->compressed_unknown) page = WithCompressed(std::move(page), key, site);
  if (!page->gate.empty()) {
    if (auto held = HeldBack(request, key, *page, site, std::time(nullptr))) {
      charge(BodyBytesOf(*held));
      return std::move(*held);
    }
  }
  charge(!page->compressed.empty() && ClientAcceptsGzip(request) ? page->compressed.size()
                                                                 : page->bytes.size());
  return ServePage(request, std::move(page), site);
}

// A temporary preview is served as a published page is; once expired its
// address says so, in words a visitor reads.
Response TemporaryPreview(const Request& request, std::string_view token, const Site& site,
                          const Routed& routed, Audit* audit) {
  if (!IsValidPreviewToken(token))
    return PlainResponse(request, http::status::not_found, "no such page");
  std::optional<PreviewPage> preview = site.storage.previews.LoadPreview(token, std::time(nullptr));
  if (!preview) return PlainResponse(request, http::status::not_found, "no such page");
  if (preview->page && routed.reads_page && audit != nullptr)
    audit->page_bytes_read = preview->page->bytes.size();
  if (preview->expired)
    return TextResponse(request, http::status::gone, ExpiredPreviewPage(),
                        "text/html; charset=utf-8", "no-cache");
  return ServePage(request, std::move(preview->page), site);
}

Response Asset(const Request& request, std::string_view path, const Site& site, const Routed&,
               Audit*) {
  return ServeAsset(request, path, site);
}

Response Media(const Request& request, std::string_view name, const Site& site, const Routed&,
               Audit*) {
  return ServeMedia(request, name, site);
}

Response Report(const Request& request, std::string_view, const Site& site, const Routed&,
                Audit* audit) {
  return AnswerReport(request, site, audit);
}

Response Opened(const Request& request, std::string_view name, const Site& site, const Routed&,
                Audit* audit) {
  return AnswerVisit(Visit::kOpened, request, name, site, audit);
}

Response Answered(const Request& request, std::string_view name, const Site& site, const Routed&,
                  Audit* audit) {
  return AnswerVisit(Visit::kAnswer, request, name, site, audit);
}

Response Unlock(const Request& request, std::string_view name, const Site& site, const Routed&,
                Audit* audit) {
  return AnswerUnlock(request, name, site, audit);
}

Response SecurityContacts(const Request& request, std::string_view, const Site& site, const Routed&,
                          Audit*) {
  return TextResponse(request, http::status::ok,
                      SecurityTxt(site.public_host, site.abuse_contact, std::time(nullptr)),
                      kPlainText, "max-age=86400");
}

Response MakerPage(const Request& request, std::string_view path, const Site& site, const Routed&,
                   Audit*) {
  if (site.maker_files == nullptr)
    return PlainResponse(request, http::status::not_found, "not found");
  return site.maker_files->Serve(request, path);
}

Response Styles(const Request& request, std::string_view, const Site& site, const Routed&, Audit*) {
  return AnswerStyles(request, site);
}

// A file arrives through the connection's own path (IsMediaUpload); what
// comes here is not one.
Response NotAnUpload(const Request& request, std::string_view, const Site&, const Routed&, Audit*) {
  return MethodNotAllowed(request, "POST");
}

// The lanes, told without a look at the database: what is refused, or held
// in memory, is answered at once.

Work EndpointLane(const Request& request, std::string_view, const Site&, Routed& routed) {
  if (SentByWebPage(request)) return Work::kAtOnce;
  routed.endpoint = ReadEndpoint(request.body());
  routed.operation = routed.endpoint->name;
  routed.hashes_code = SetsCode(*routed.endpoint);
  return routed.endpoint->work;
}

Work PageLane(const Request& request, std::string_view name, const Site& site, Routed& routed) {
  if (!IsValidPageName(name) ||
      site.storage.pages.HasFormInMemory(PageNameKey(name), FormFor(request)))
    return Work::kAtOnce;
  routed.reads_page = true;
  routed.operation = "page";
  return Work::kRead;
}

Work PreviewLane(const Request&, std::string_view token, const Site&, Routed& routed) {
  if (!IsValidPreviewToken(token)) return Work::kAtOnce;
  routed.reads_page = true;
  routed.operation = "preview";
  return Work::kRead;
}

Work MediaLane(const Request&, std::string_view name, const Site&, Routed&) {
  return MediaTypeOfName(name) ? Work::kRead : Work::kAtOnce;
}

Work ReportWork(const Request& request, std::string_view, const Site& site, Routed& routed) {
  routed.operation = "report";
  return ReportLane(request, site);
}

Work OpenedLane(const Request& request, std::string_view name, const Site&, Routed& routed) {
  routed.operation = "visit";
  return VisitLane(Visit::kOpened, request, name);
}

Work AnsweredLane(const Request& request, std::string_view name, const Site&, Routed& routed) {
  routed.operation = "visit";
  return VisitLane(Visit::kAnswer, request, name);
}

Work UnlockWork(const Request& request, std::string_view name, const Site& site, Routed& routed) {
  routed.operation = "unlock";
  const Work work = UnlockLane(request, name, site);
  routed.hashes_code = work != Work::kAtOnce;
  return work;
}

Work Reads(const Request&, std::string_view, const Site&, Routed&) {
  return Work::kRead;
}
Work AtOnce(const Request&, std::string_view, const Site&, Routed&) {
  return Work::kAtOnce;
}

enum class Span { kPath, kPrefix };
enum class Case { kExact, kIgnored };
enum class Methods { kGetHead, kPost, kGetHeadPost };  // any other gets 405 naming these

}  // namespace

struct RouteEntry {
  std::string_view path;
  Span span;
  Case letters;
  Methods methods;
  // Also leaves in `Routed` what answering will need again.
  Work (*lane)(const Request&, std::string_view rest, const Site&, Routed&);
  Response (*answer)(const Request&, std::string_view rest, const Site&, const Routed&, Audit*);
};

namespace {

// Every address the site answers, the first that fits taking the request.
constexpr RouteEntry kRoutes[] = {
    {wire::kEndpointPath, Span::kPath, Case::kIgnored, Methods::kPost, EndpointLane, Endpoint},
    {wire::kPagePrefix, Span::kPrefix, Case::kIgnored, Methods::kGetHead, PageLane, PublishedPage},
    {wire::kAssetPrefix, Span::kPrefix, Case::kIgnored, Methods::kGetHead, AtOnce, Asset},
    {wire::kPreviewPrefix, Span::kPrefix, Case::kExact, Methods::kGetHead, PreviewLane,
     TemporaryPreview},
    {wire::kMediaPrefix, Span::kPrefix, Case::kExact, Methods::kGetHead, MediaLane, Media},
    {wire::kMediaPath, Span::kPath, Case::kExact, Methods::kPost, AtOnce, NotAnUpload},
    {wire::kStylesPath, Span::kPath, Case::kExact, Methods::kGetHead, AtOnce, Styles},
    {wire::kMakerPrefix, Span::kPrefix, Case::kExact, Methods::kPost, MakerLane, AnswerMaker},
    {wire::kOpenedPrefix, Span::kPrefix, Case::kExact, Methods::kPost, OpenedLane, Opened},
    {wire::kAnswerPrefix, Span::kPrefix, Case::kExact, Methods::kPost, AnsweredLane, Answered},
    {kUnlockPrefix, Span::kPrefix, Case::kExact, Methods::kPost, UnlockWork, Unlock},
    {"/", Span::kPath, Case::kExact, Methods::kGetHead, Reads, SitePage},
    // The maker's page and its files; "/make" and "/make/" are the page.
    {wire::kMakerPath, Span::kPrefix, Case::kExact, Methods::kGetHead, AtOnce, MakerPage},
    {"/index.html", Span::kPath, Case::kExact, Methods::kGetHead, Reads, SitePage},
    {"/download", Span::kPath, Case::kExact, Methods::kGetHead, Reads, SitePage},
    {"/support", Span::kPath, Case::kExact, Methods::kGetHead, Reads, SitePage},
    {"/report", Span::kPath, Case::kExact, Methods::kGetHeadPost, ReportWork, Report},
    {"/.well-known/security.txt", Span::kPath, Case::kExact, Methods::kGetHead, AtOnce,
     SecurityContacts},
};

void Find(const Request& request, Routed& routed) {
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  for (const RouteEntry& route : kRoutes) {
    const std::string_view head =
        route.span == Span::kPrefix ? path.substr(0, route.path.size()) : path;
    if (route.letters == Case::kIgnored ? !EqualsIgnoringCase(head, route.path)
                                        : head != route.path)
      continue;
    const http::verb method = request.method();
    routed.route = &route;
    routed.rest_at = route.span == Span::kPrefix ? route.path.size() : 0;
    routed.rest_size = path.size() - routed.rest_at;
    routed.allowed = (route.methods != Methods::kGetHead && method == http::verb::post) ||
                     (route.methods != Methods::kPost &&
                      (method == http::verb::get || method == http::verb::head));
    return;
  }
}

Response Route(const Request& request, const Routed& routed, const Site& site, Audit* audit) {
  const RouteEntry* route = routed.route;
  if (route == nullptr) return PlainResponse(request, http::status::not_found, "not found");
  if (!routed.allowed)
    return MethodNotAllowed(request, route->methods == Methods::kPost      ? "POST"
                                     : route->methods == Methods::kGetHead ? "GET, HEAD"
                                                                           : "GET, HEAD, POST");
  const std::string_view rest = request.target().substr(routed.rest_at, routed.rest_size);
  return route->answer(request, rest, site, routed, audit);
}

}  // namespace

Response HandleRequest(const Request& request, const Routed& routed, const Site& site,
                       Audit* audit) {
  try {
    return Route(request, routed, site, audit);
  } catch (const std::exception& error) {
    return StorageFailure(request, error, audit);
  }
}

Response HandleRequest(const Request& request, const Site& site, Audit* audit) {
  Routed routed;
  try {
    routed = WorkOf(request, site);
  } catch (const std::exception& error) {
    return StorageFailure(request, error, audit);
  }
  return HandleRequest(request, routed, site, audit);
}

Routed WorkOf(const Request& request, const Site& site) {
  Routed routed;
  Find(request, routed);
  if (routed.route != nullptr && routed.allowed) {
    const std::string_view rest = request.target().substr(routed.rest_at, routed.rest_size);
    routed.work = routed.route->lane(request, rest, site, routed);
  }
  return routed;
}

unsigned StatusOf(const Response& response) {
  return std::visit(
      [](const auto& message) -> unsigned {
        if constexpr (requires { message.result_int(); })
          return message.result_int();
        else
          return 200;
      },
      response);
}

std::size_t BodyBytesOf(const Response& response) {
  return std::visit(
      [](const auto& message) -> std::size_t {
        if constexpr (requires { message.page; })
          return message.body().size();
        else
          return static_cast<std::size_t>(message.body().size());
      },
      response);
}

}  // namespace heartpage::server
