#include "server/site/visitors/receipts.h"

#include <ctime>
#include <optional>
#include <variant>

#include "protocol/page_name.h"
#include "protocol/receipts.h"
#include "protocol/records.h"
#include "protocol/wire.h"
#include "server/site/common/http_util.h"
#include "server/site/policy/endpoint_checks.h"
#include "server/site/policy/page_check.h"
#include "server/site/visitors/page_gate.h"
#include "server/storage/utc_text.h"

namespace heartpage::server {

namespace http = boost::beast::http;

namespace {

struct Refusal {
  http::status status;
  std::string_view line;
};

// The question a page asks, read out of it by the page check: pages the
// check does not take as the program's ask nothing.
PageQuestion QuestionOf(const StoredPage& page, std::string_view public_host) {
  PageCheck check = CheckSentPage(page.bytes, public_host);
  PageQuestion question;
  if (!check.genuine || check.question.empty() || check.answers.size() != 2) return question;
  question.text = std::move(check.question);
  question.choices = {std::move(check.answers[0]), std::move(check.answers[1])};
  return question;
}

// Receipts belong to the question of one version of a page. A store does not
// tell them of its new version: the first visit or reading after it binds
// them, whichever process it reaches, so that no store can leave them
// behind, not even one made before this was kept.
void BindToPage(ReceiptStore& receipts, std::string_view key, const StoredPage& page,
                std::string_view public_host) {
  receipts.BindQuestion(key, {page.modified, page.etag}, QuestionOf(page, public_host));
}

std::string_view MediaType(std::string_view content_type) {
  content_type = content_type.substr(0, content_type.find(';'));
  while (!content_type.empty() && content_type.back() == ' ') content_type.remove_suffix(1);
  return content_type;
}

std::optional<Refusal> VisitProblem(Visit visit, const Request& request, std::string_view name) {
  const auto origin = request.find(http::field::origin);
  if (origin != request.end() && origin->value() != "null")
    return Refusal{http::status::forbidden, "taken only from the site's own pages"};
  if (!IsValidPageName(name)) return Refusal{http::status::not_found, "no such page"};
  if (request.body().size() > kMaxVisitBodyBytes)
    return Refusal{http::status::payload_too_large, "body too large"};
  const std::string_view type = MediaType(request[http::field::content_type]);
  if (!type.empty() && !EqualsIgnoringCase(type, "text/plain") &&
      !EqualsIgnoringCase(type, "application/x-www-form-urlencoded"))
    return Refusal{http::status::unsupported_media_type, "sent as text/plain"};
  if (visit == Visit::kOpened && !request.body().empty())
    return Refusal{http::status::bad_request, "an opening carries no body"};
  if (visit == Visit::kAnswer && request.body() != "answer=1" && request.body() != "answer=2")
    return Refusal{http::status::bad_request, "the body is answer=1 or answer=2"};
  return std::nullopt;
}

StringResponse Reply(const Request& request, http::status status, std::string_view line) {
  StringResponse response = status == http::status::no_content
                                ? TextResponse(request, status, {}, kPlainText, "no-store")
                                : PlainResponse(request, status, line);
  response.set(http::field::cache_control, "no-store");
  // A 204 has no body, so it says nothing of one.
  if (status == http::status::no_content) {
    response.erase(http::field::content_type);
    response.erase(http::field::content_length);
  }
  // The page runs in an origin of its own: without this its script could
  // not tell a kept answer from a refused one.
  response.set(http::field::access_control_allow_origin, "null");
  return response;
}

StringResponse TooMany(const Request& request) {
  StringResponse response = TryLater(request, http::status::too_many_requests,
                                     std::chrono::seconds(60), "too many for this page");
  response.set(http::field::access_control_allow_origin, "null");
  return response;
}

// Not a default string_view: a null pointer would be bound as SQL's NULL.
constexpr std::string_view kAnyVersion = "";

VisitResult Count(Visit visit, ReceiptStore& receipts, std::string_view key, std::string_view etag,
                  std::string_view visitor, int choice, std::int64_t now) {
  return visit == Visit::kOpened ? receipts.CountOpening(key, etag, visitor, now)
                                 : receipts.AddAnswer(key, etag, visitor, choice, now);
}

std::string TimeText(std::int64_t seconds) {
  return seconds == 0 ? std::string() : UtcText(seconds);
}

template <class Stored>
wire::Receipt ReceiptOf(const Stored& stored) {
  wire::Receipt receipt;
  receipt.question = stored.question.text;
  receipt.choices = stored.question.choices;
  receipt.opened = stored.opened;
  receipt.first_opened = TimeText(stored.first_opened);
  receipt.last_opened = TimeText(stored.last_opened);
  for (const ReceiptAnswerAt& answer : stored.answers)
    receipt.answers.push_back(
        {answer.choice,
         answer.choice == 1 ? stored.question.choices[0] : stored.question.choices[1],
         TimeText(answer.at)});
  return receipt;
}

wire::Receipt ReceiptWithEarlier(const PageReceipts& stored) {
  wire::Receipt receipt = ReceiptOf(stored);
  for (const EarlierReceipts& version : stored.earlier) {
    wire::Receipt& earlier = receipt.earlier.emplace_back(ReceiptOf(version));
    earlier.replaced = TimeText(version.replaced);
  }
  return receipt;
}

}  // namespace

Response AnswerVisit(Visit visit, const Request& request, std::string_view name, const Site& site,
                     Audit* audit) {
  if (audit != nullptr) {
    audit->operation = visit == Visit::kOpened ? "opened" : "answer";
    audit->name = name;
  }
  if (const auto problem = VisitProblem(visit, request, name))
    return problem->status == http::status::forbidden
               ? PlainResponse(request, problem->status, problem->line)
               : Reply(request, problem->status, problem->line);
  const std::string key = PageNameKey(name);
  // Its validator and gate are all that count here: the smaller form.
  const std::shared_ptr<const StoredPage> page =
      site.storage.pages.LoadForm(key, PageForm::kCompressed);
  if (!page)
    return site.storage.pages.WasTakenDown(key)
               ? Reply(request, http::status::gone, "taken down by its owner")
               : Reply(request, http::status::not_found, "no such page");
  if (page->withheld)
    return Reply(request, static_cast<http::status>(wire::status::kWithdrawn),
                 "taken down by the site's operator");
  const std::int64_t now = std::time(nullptr);
  // Nobody has seen the page before its moment: what claims to come from it
  // then counts for nothing.
  if (page->gate.opens > now) return Reply(request, http::status::conflict, "not open yet");
  const int choice = request.body() == "answer=2" ? 2 : 1;
  // Counted by address as well as by page: a few addresses cannot spend the
  // page's minute and shut its reader out.
  const std::string_view visitor = audit != nullptr ? audit->sender.key : std::string_view();
  VisitResult result = Count(visit, site.storage.receipts, key, page->etag, visitor, choice, now);
  if (result == VisitResult::kUnbound) {
    // The question is read from the page's own bytes.
    if (const auto whole = site.storage.pages.LoadPage(key))
      BindToPage(site.storage.receipts, key, *whole, site.public_host);
    // Whatever version is bound now: a newer one than this visitor's page
    // may have been bound meanwhile, and it asks the question on screen as
    // well as any.
    result = Count(visit, site.storage.receipts, key, kAnyVersion, visitor, choice, now);
  }
  switch (result) {
    case VisitResult::kCounted:
      return Reply(request, http::status::no_content, {});
    case VisitResult::kNoQuestion:
      return Reply(request, http::status::conflict, "this page asks no question");
    case VisitResult::kTooMany:
      return TooMany(request);
    case VisitResult::kUnbound:
      break;
  }
  return Reply(request, http::status::not_found, "no such page");
}

Work VisitLane(Visit visit, const Request& request, std::string_view name) {
  return VisitProblem(visit, request, name) ? Work::kAtOnce : Work::kVisit;
}

EndpointReply RunReceipts(const Stores& storage, const FormFields& fields,
                          std::string_view operation, std::string_view public_host) {
  const auto request = ReadOwnedName(storage.claims, fields, operation);
  if (const auto* refusal = std::get_if<EndpointReply>(&request)) return *refusal;
  const auto& [name, owner] = std::get<OwnedName>(request);
  const std::string key = PageNameKey(name);
  const std::vector<Claim> claims = storage.claims.ClaimsOfName(key);
  if (claims.empty()) return Refuse(wire::status::kUnknown, "file name not claimed");
  if (claims.front().owner != owner)
    return Refuse(wire::status::kNotYours, "file name claimed by another machine");
  // A page republished since the last visit shows its own question, and
  // whether what came back still counts, before anyone visits it.
  std::optional<PageReceipts> stored = storage.receipts.LoadReceipts(key);
  const auto page = storage.pages.LoadPage(key);
  if (page && (!stored || stored->etag != page->etag)) {
    BindToPage(storage.receipts, key, *page, public_host);
    stored = storage.receipts.LoadReceipts(key);
  }
  wire::Receipt receipt = stored ? ReceiptWithEarlier(*stored) : wire::Receipt{};
  if (page) {
    GateSettings settings = SettingsOf(page->gate);
    receipt.opens = std::move(settings.opens);
    receipt.has_code = settings.has_code;
    receipt.hint = std::move(settings.hint);
  }
  return {wire::status::kOk, wire::FormatRecords(wire::ReceiptRecords(receipt)), true};
}

}  // namespace heartpage::server
