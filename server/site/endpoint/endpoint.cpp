#include "server/site/endpoint/endpoint.h"

#include <initializer_list>
#include <iterator>
#include <type_traits>
#include <variant>

#include "pages/question.h"
#include "pages/styles.h"
#include "protocol/page_name.h"
#include "protocol/page_settings.h"
#include "protocol/records.h"
#include "protocol/wire.h"
#include "server/site/common/form.h"
#include "server/site/common/site_pages.h"
#include "server/site/common/statement.h"
#include "server/site/policy/deny_check.h"
#include "server/site/policy/endpoint_checks.h"
#include "server/site/policy/page_check.h"
#include "server/site/visitors/page_gate.h"
#include "server/site/visitors/previews.h"
#include "server/site/visitors/receipts.h"
#include "server/storage/utc_text.h"

namespace heartpage::server {

namespace {

bool HasOnly(const FormFields& fields, std::initializer_list<std::string_view> names) {
  if (fields.size() != names.size()) return false;
  for (const std::string_view name : names)
    if (!fields.contains(name)) return false;
  return true;
}

EndpointReply Records(const std::vector<wire::Record>& rows) {
  return {wire::status::kOk, wire::FormatRecords(rows), true};
}

EndpointReply RunQuery(const Stores& storage, const Statement& statement,
                       std::string_view operation, std::string_view public_host) {
  if (std::holds_alternative<SettingsQuery>(statement))
    return Records({SettingsRow(storage.settings.LoadSettings(), public_host)});
  std::vector<wire::Record> rows;
  if (const auto* lookup = std::get_if<MachineLookup>(&statement)) {
    if (auto problem = CheckMachineId(lookup->machine_id))
      return Refuse(wire::status::kMalformed, *problem);
    // The asker already knows the identifier: echoing it gives nothing away.
    // The page's time lets the program tell its user which page is online.
    for (const Claim& claim :
         storage.claims.ClaimsOfMachine(storage.claims.HashMachineId(lookup->machine_id))) {
      const auto page = storage.pages.LoadForm(claim.name, PageForm::kCompressed);
      rows.push_back({lookup->machine_id, claim.name, claim.claimed_at,
                      page ? UtcText(page->modified) : std::string()});
    }
  } else if (const auto* name_lookup = std::get_if<NameLookup>(&statement)) {
    if (!IsValidPageName(name_lookup->name))
      return Refuse(wire::status::kMalformed, "malformed file name");
    // Whether a name is taken is public; whose it is is not.
    for (const Claim& claim : storage.claims.ClaimsOfName(PageNameKey(name_lookup->name)))
      rows.push_back({"", claim.name, claim.claimed_at});
  } else {
    return Refuse(wire::status::kMalformed, std::string(operation) + " takes a query");
  }
  return Records(rows);
}

EndpointReply RunClaim(const Stores& storage, const Statement& statement,
                       std::string_view operation) {
  const auto* claim = std::get_if<NameClaim>(&statement);
  if (claim == nullptr)
    return Refuse(wire::status::kMalformed, std::string(operation) + " takes a name claim");
  if (auto problem = CheckMachineId(claim->machine_id))
    return Refuse(wire::status::kMalformed, *problem);
  if (!IsValidPageName(claim->name)) return Refuse(wire::status::kMalformed, "malformed file name");
  const MachineIdHash owner = storage.claims.HashMachineId(claim->machine_id);
  if (auto refusal = RefuseBlocked(storage.admin, owner)) return *refusal;
  if (storage.claims.ClaimName(owner, PageNameKey(claim->name)) == ClaimResult::kTaken)
    return Refuse(wire::status::kTaken, "file name already claimed");
  return {wire::status::kOk, "", false};
}

// A store's settings as sent, the fields that are not there empty; why not,
// when a value is no text.
std::variant<wire::PageSettings, EndpointReply> SentSettings(const FormFields& fields) {
  wire::PageSettings settings;
  for (auto [name, into] :
       {std::pair{wire::kOpensField, &settings.opens}, std::pair{wire::kCodeField, &settings.code},
        std::pair{wire::kHintField, &settings.hint}}) {
    const auto field = fields.find(name);
    if (field == fields.end()) continue;
    std::optional<std::string> text = TextOf(field->second);
    if (!text)
      return Refuse(wire::status::kMalformed, std::string(name) + " is not valid GBK text");
    *into = std::move(*text);
  }
  if (std::string problem = wire::PageSettingsProblem(settings); !problem.empty())
    return Refuse(wire::status::kMalformed, std::move(problem));
  return settings;
}

EndpointReply RunStore(const Stores& storage, const FormFields& fields, std::string_view operation,
                       std::string_view public_host, const AddressBudget& sender) {
  // The settings are optional: an older client sends none of them.
  if (auto problem = FieldProblem(
          fields,
          {wire::kOperationField, wire::kFileField, wire::kMachineIdField, wire::kDataField},
          {wire::kOpensField, wire::kCodeField, wire::kHintField}))
    return Refuse(wire::status::kMalformed, std::string(operation) + ": " + *problem);
  auto settings = SentSettings(fields);
  if (const auto* refusal = std::get_if<EndpointReply>(&settings)) return *refusal;
  const std::string& name = fields.find(wire::kFileField)->second;
  if (!IsValidPageName(name)) return Refuse(wire::status::kMalformed, "malformed file name");
  const auto owner = OwnerOf(storage.claims, fields);
  if (const auto* refusal = std::get_if<EndpointReply>(&owner)) return *refusal;
  const StoreStanding standing =
      storage.admin.StandingOfStore(std::get<MachineIdHash>(owner), PageNameKey(name));
  if (standing.owner_blocked) return Refuse(wire::status::kNotYours, std::string(kBlockedRefusal));
  // Until the operator restores it, a page taken down stays down whoever
  // sends it.
  if (standing.page_withheld)
    return Refuse(wire::status::kWithdrawn, "this page was taken down by the site's operator");
  const PageCheck page = CheckSentPage(fields.find(wire::kDataField)->second, public_host);
  if (!page.genuine) return Refuse(wire::status::kUnacceptable, page.refusal);
  if (auto denied = DeniedIn(page, standing.denied))
    return Refuse(wire::status::kUnacceptable, std::move(*denied));
  // The hint stands on the site's own asking page, which no sandbox keeps
  // apart from the site: it answers to the list like the page's words.
  if (const std::string& hint = std::get<wire::PageSettings>(settings).hint; !hint.empty())
    if (auto denied = DeniedIn({hint}, standing.denied, "the hint"))
      return Refuse(wire::status::kUnacceptable, std::move(*denied));
  // The code is hashed only for its name's owner: the hash costs CPU, and
  // the store checks the owner again as it writes.
  if (!standing.name_owner) return Refuse(wire::status::kNotYours, "file name not claimed");
  if (*standing.name_owner != std::get<MachineIdHash>(owner))
    return Refuse(wire::status::kNotYours, "file name claimed by another machine");
  const PageGate gate = GateOf(std::get<wire::PageSettings>(settings));
  // Compressed by its first reader, not here: a sender may store again
  // before anyone reads it, and the store is answered sooner.
  switch (storage.pages.StorePage(std::get<MachineIdHash>(owner), PageNameKey(name),
                                  fields.find(wire::kDataField)->second, sender, gate)) {
    case StoreResult::kStored:
      return {wire::status::kOk, "", false};
    case StoreResult::kUnclaimed:
      return Refuse(wire::status::kNotYours, "file name not claimed");
    case StoreResult::kNotOwner:
      return Refuse(wire::status::kNotYours, "file name claimed by another machine");
    case StoreResult::kOverQuota:
      return Refuse(wire::status::kOutOfSpace, "the server is out of room for pages");
    // The server has room; this address has used its part of it for now.
    case StoreResult::kOverAddressDaily:
      return TryTomorrow("pages sent from this address have grown all they may today");
    case StoreResult::kOverAddressShare:
      return TryTomorrow("pages sent from this address take all the room one address may have");
  }
  return Refuse(500, "unexpected store result");
}

EndpointReply RunTakeDown(const Stores& storage, const FormFields& fields,
                          std::string_view operation) {
  const auto request = ReadOwnedName(storage.claims, fields, operation);
  if (const auto* refusal = std::get_if<EndpointReply>(&request)) return *refusal;
  const auto& [name, owner] = std::get<OwnedName>(request);
  switch (storage.pages.TakeDownPage(owner, PageNameKey(name))) {
    case TakeDownResult::kTakenDown:
      return {wire::status::kOk, "", false};
    case TakeDownResult::kUnclaimed:
      return Refuse(wire::status::kUnknown, "file name not claimed");
    case TakeDownResult::kNotOwner:
      return Refuse(wire::status::kNotYours, "file name claimed by another machine");
  }
  return Refuse(500, "unexpected take-down result");
}

EndpointReply RunRelease(const Stores& storage, const FormFields& fields,
                         std::string_view operation) {
  const auto request = ReadOwnedName(storage.claims, fields, operation);
  if (const auto* refusal = std::get_if<EndpointReply>(&request)) return *refusal;
  const auto& [name, owner] = std::get<OwnedName>(request);
  switch (storage.pages.ReleaseName(owner, PageNameKey(name))) {
    case ReleaseResult::kReleased:
      return {wire::status::kOk, "", false};
    case ReleaseResult::kUnclaimed:
      return Refuse(wire::status::kUnknown, "file name not claimed");
    case ReleaseResult::kNotOwner:
      return Refuse(wire::status::kNotYours, "file name claimed by another machine");
  }
  return Refuse(500, "unexpected release result");
}

// Operations 1 and 2 take their statement and nothing else.
std::optional<EndpointReply> StatementProblem(const EndpointRequest& request) {
  if (!HasOnly(request.fields, {wire::kOperationField, wire::kStatementField}))
    return Refuse(wire::status::kMalformed, "operations " + std::to_string(wire::kQuery) + " and " +
                                                std::to_string(wire::kStatement) +
                                                " take the fields zc and sql");
  if (const auto* error = std::get_if<StatementError>(&request.statement))
    return Refuse(wire::status::kMalformed, error->message);
  return std::nullopt;
}

// How a refusal names the operation it refuses: "operation 4".
std::string OperationLabel(const EndpointCall& call) {
  return "operation " + std::to_string(call.request.operation->number);
}

EndpointReply Query(const EndpointCall& call) {
  if (auto problem = StatementProblem(call.request)) return *problem;
  return RunQuery(call.storage, call.request.statement, OperationLabel(call), call.public_host);
}

EndpointReply Claim(const EndpointCall& call) {
  if (auto problem = StatementProblem(call.request)) return *problem;
  return RunClaim(call.storage, call.request.statement, OperationLabel(call));
}

EndpointReply Store(const EndpointCall& call) {
  return RunStore(call.storage, call.request.fields, OperationLabel(call), call.public_host,
                  call.sender);
}

EndpointReply PreviewStore(const EndpointCall& call) {
  return RunPreviewStore(call.storage, call.request.fields, OperationLabel(call), call.public_host,
                         call.sender);
}

EndpointReply TakeDown(const EndpointCall& call) {
  return RunTakeDown(call.storage, call.request.fields, OperationLabel(call));
}

EndpointReply Release(const EndpointCall& call) {
  return RunRelease(call.storage, call.request.fields, OperationLabel(call));
}

EndpointReply Receipts(const EndpointCall& call) {
  return RunReceipts(call.storage, call.request.fields, OperationLabel(call), call.public_host);
}

// The fields her page online was built of, read back out of it by the page
// check that took it: what a browser that lost its draft edits again. The
// code is never among them (only its hash is kept).
EndpointReply PageFields(const EndpointCall& call) {
  const auto request =
      ReadOwnedName(call.storage.claims, call.request.fields, OperationLabel(call));
  if (const auto* refusal = std::get_if<EndpointReply>(&request)) return *refusal;
  const auto& [name, owner] = std::get<OwnedName>(request);
  const std::string key = PageNameKey(name);
  const std::vector<server::Claim> claims = call.storage.claims.ClaimsOfName(key);
  if (claims.empty()) return Refuse(wire::status::kUnknown, "file name not claimed");
  if (claims.front().owner != owner)
    return Refuse(wire::status::kNotYours, "file name claimed by another machine");
  const auto page = call.storage.pages.LoadPage(key);
  if (!page) return Refuse(wire::status::kGone, "no page online");
  const PageCheck check = CheckSentPage(page->bytes, call.public_host);
  if (!check.genuine) return Refuse(wire::status::kUnacceptable, check.refusal);
  std::vector<wire::Record> records{{std::to_string(check.style)}};
  const auto add = [&](const std::string& field, const std::string& value) {
    // A value that would split its record stays out: its field keeps its default.
    if (!wire::SplitsRecord(value)) records.push_back({field, value});
  };
  const Style& style = GetStyle(check.style);
  for (std::size_t i = 0; i < style.rows.size() && i < check.values.size(); ++i)
    add(style.rows[i].Name(), check.values[i]);
  if (!check.question.empty()) {
    add(QuestionFieldNames()[0], check.question);
    for (std::size_t i = 0; i < check.answers.size() && i + 1 < QuestionFieldNames().size(); ++i)
      add(QuestionFieldNames()[i + 1], check.answers[i]);
  }
  const GateSettings settings = SettingsOf(page->gate);
  records.push_back({"settings", settings.opens, settings.has_code ? "1" : "0", settings.hint});
  return {wire::status::kOk, wire::FormatRecords(records), true};
}

// Every operation of the endpoint. A store or take-down refused as another
// machine's has paid one store already, a release paid a claim: each such
// guess comes to about two stores.
constexpr EndpointOperation kOperations[] = {
    // number, name, work, statement, for_owner, guessed_stores, run
    {wire::kQuery, "query", Work::kRead, true, false, 0, Query},
    {wire::kStatement, "claim", Work::kClaim, true, false, 0, Claim},
    {wire::kStorePage, "store", Work::kStore, false, true, 1, Store},
    // A preview takes room like a store, and counts against the same rate.
    {wire::kStorePreview, "preview store", Work::kStore, false, true, 0, PreviewStore},
    {wire::kTakeDown, "take down", Work::kStore, false, true, 1, TakeDown},
    // Giving a name up is limited like claiming one: together they could
    // otherwise churn names without bound.
    {wire::kReleaseName, "release", Work::kClaim, false, true, 2, Release},
    // Reading a page's receipts names an identifier and a name: a hit tells
    // which identifier owns the name.
    {wire::kReceipts, "receipts", Work::kLookup, false, true, 0, Receipts},
    // The same for the fields her page was built of.
    {wire::kPageFields, "page fields", Work::kLookup, false, true, 0, PageFields},
};

// The statements operations 1 and 2 carry, in the order of Statement's
// alternatives: which operation sends each, its name in the log and its
// lane. A lookup of what an identifier owns has the lookups' rate: a hit
// names a page that the same identifier may replace, so these are how
// identifiers would be guessed.
struct StatementUse {
  int operation;
  std::string_view name;
  Work work;
};
constexpr StatementUse kStatementUses[] = {
    {wire::kQuery, "settings", Work::kRead},
    {wire::kQuery, "ownership lookup", Work::kLookup},
    {wire::kQuery, "name lookup", Work::kRead},
    {wire::kStatement, "claim", Work::kClaim},
};
static_assert(std::size(kStatementUses) + 1 == std::variant_size_v<Statement> &&
              std::is_same_v<std::variant_alternative_t<std::size(kStatementUses), Statement>,
                             StatementError>);

// The operation a decoded `zc` names: one digit, as the program sends it.
const EndpointOperation* OperationNamed(std::string_view zc) {
  if (zc.size() != 1) return nullptr;
  for (const EndpointOperation& operation : kOperations)
    if (zc[0] == '0' + operation.number) return &operation;
  return nullptr;
}

// The page name a request is about, as sent.
std::string NameOf(const EndpointRequest& request) {
  if (const auto* lookup = std::get_if<NameLookup>(&request.statement)) return lookup->name;
  if (const auto* claim = std::get_if<NameClaim>(&request.statement)) return claim->name;
  if (const auto file = request.fields.find(wire::kFileField); file != request.fields.end())
    return file->second;
  return {};
}

}  // namespace

bool SetsCode(const EndpointRequest& request) {
  if (request.operation == nullptr || request.operation->number != wire::kStorePage) return false;
  const auto code = request.fields.find(wire::kCodeField);
  return code != request.fields.end() && !code->second.empty();
}

EndpointRequest ReadEndpoint(std::string_view body) {
  auto parsed = ParseForm(body);
  if (auto* error = std::get_if<FormError>(&parsed)) {
    EndpointRequest request;
    request.refusal = std::move(error->message);
    return request;
  }
  return ReadEndpointFields(std::get<FormFields>(std::move(parsed)));
}

EndpointRequest ReadEndpointFields(FormFields fields) {
  EndpointRequest request;
  request.fields = std::move(fields);
  const auto zc = request.fields.find(wire::kOperationField);
  if (zc == request.fields.end()) {
    request.refusal = "missing field zc";
    return request;
  }
  request.operation = OperationNamed(zc->second);
  if (request.operation == nullptr) {
    request.refusal = "unknown operation";
    return request;
  }
  request.name = request.operation->name;
  request.work = request.operation->work;
  const auto sql = request.fields.find(wire::kStatementField);
  // Without its statement the operation's handler says what is missing.
  if (!request.operation->statement || sql == request.fields.end()) return request;
  const std::optional<std::string> text = TextOf(sql->second);
  if (!text) {
    request.statement = StatementError{"statement is not valid GBK text"};
    return request;
  }
  request.statement = ParseStatement(*text);
  const std::size_t kind = request.statement.index();
  if (kind < std::size(kStatementUses) &&
      kStatementUses[kind].operation == request.operation->number) {
    request.name = kStatementUses[kind].name;
    request.work = kStatementUses[kind].work;
  }
  return request;
}

EndpointReply HandleEndpoint(const Stores& storage, const EndpointRequest& request,
                             std::string_view public_host, Audit* audit) {
  if (audit != nullptr) {
    audit->operation = request.name;
    audit->name = NameOf(request);
  }
  if (request.operation == nullptr) return Refuse(wire::status::kMalformed, request.refusal);
  const AddressBudget unknown_sender;
  return request.operation->run(
      {storage, request, public_host, audit != nullptr ? audit->sender : unknown_sender});
}

EndpointReply HandleEndpoint(const Stores& storage, std::string_view body,
                             std::string_view public_host, Audit* audit) {
  return HandleEndpoint(storage, ReadEndpoint(body), public_host, audit);
}

}  // namespace heartpage::server
