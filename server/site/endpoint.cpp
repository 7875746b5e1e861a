#include "server/site/endpoint.h"

#include <algorithm>
#include <ctime>
#include <initializer_list>
#include <variant>

#include "protocol/page_name.h"
#include "protocol/records.h"
#include "protocol/wire.h"
#include "server/site/deny_check.h"
#include "server/site/endpoint_checks.h"
#include "server/site/form.h"
#include "server/site/page_check.h"
#include "server/site/previews.h"
#include "server/site/receipts.h"
#include "server/site/site.h"
#include "server/site/statement.h"
#include "text/gbk.h"

namespace heartpage::server {

constexpr std::size_t kMaxMachineIdBytes = 200;

constexpr std::size_t kMaxRefusalBytes = 160;

// Refusals stay one short line, however long a value they quote.
EndpointReply Refuse(unsigned status, std::string message) {
  if (message.size() > kMaxRefusalBytes) {
    std::size_t cut = kMaxRefusalBytes;
    while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80) --cut;
    message.resize(cut);
    message += "...";
  }
  return {status, std::move(message) + "\n", false};
}

// Bytes to UTF-8, refusing bytes that are not GBK/GB18030: what we answer must
// read back as exactly what was sent.
std::optional<std::string> TextOf(std::string_view bytes) {
  std::string text = FromGbk(bytes);
  if (ToGbk(text) != bytes) return std::nullopt;
  return text;
}

namespace {

bool HasOnly(const FormFields& fields, std::initializer_list<std::string_view> names) {
  if (fields.size() != names.size()) return false;
  for (const std::string_view name : names)
    if (!fields.contains(name)) return false;
  return true;
}

}  // namespace

// Names the first field missing from, or not belonging to, an operation, so
// that a client of another version learns what to send.
std::optional<std::string> FieldProblem(const FormFields& fields,
                                        std::initializer_list<std::string_view> names) {
  for (const std::string_view name : names)
    if (!fields.contains(name)) return "missing field " + std::string(name);
  for (const auto& [name, value] : fields)
    if (std::ranges::find(names, name) == names.end()) return "unexpected field " + name;
  return std::nullopt;
}

// Whatever a disk's serial field holds comes through: zero padding, tabs and
// spaces included. Only what would split the answer is refused.
std::optional<std::string> CheckMachineId(std::string_view machine_id) {
  if (machine_id.empty()) return "empty machine identifier";
  if (ToGbk(machine_id).size() > kMaxMachineIdBytes) return "machine identifier too long";
  if (wire::SplitsRecord(machine_id)) return "machine identifier contains a record separator";
  return std::nullopt;
}

MachineIdText ReadMachineId(std::string_view bytes) {
  std::optional<std::string> text = TextOf(bytes);
  if (!text) return {std::nullopt, "machine identifier is not valid GBK text"};
  if (auto problem = CheckMachineId(*text)) return {std::nullopt, std::move(*problem)};
  return {std::move(text), {}};
}

std::variant<MachineIdHash, EndpointReply> OwnerOf(ClaimStore& claims, const FormFields& fields) {
  MachineIdText machine_id = ReadMachineId(fields.find(wire::kMachineIdField)->second);
  if (!machine_id.text) return Refuse(wire::status::kMalformed, std::move(machine_id.problem));
  return claims.HashMachineId(*machine_id.text);
}

std::variant<OwnedName, EndpointReply> ReadOwnedName(ClaimStore& claims, const FormFields& fields,
                                                     std::string_view operation) {
  if (auto problem =
          FieldProblem(fields, {wire::kOperationField, wire::kFileField, wire::kMachineIdField}))
    return Refuse(wire::status::kMalformed, std::string(operation) + ": " + *problem);
  const std::string& name = fields.find(wire::kFileField)->second;
  if (!IsValidPageName(name)) return Refuse(wire::status::kMalformed, "malformed file name");
  auto owner = OwnerOf(claims, fields);
  if (auto* refusal = std::get_if<EndpointReply>(&owner)) return std::move(*refusal);
  return OwnedName{name, std::get<MachineIdHash>(std::move(owner))};
}

std::optional<EndpointReply> RefuseBlocked(AdminStore& admin, const MachineIdHash& owner) {
  if (!admin.OwnerBlocked(owner)) return std::nullopt;
  return Refuse(wire::status::kNotYours, std::string(kBlockedRefusal));
}

namespace {

// "YYYY-MM-DD HH:MM:SS" in UTC, as claim times are written.
std::string UtcText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

EndpointReply Records(const std::vector<wire::Record>& rows) {
  return {wire::status::kOk, wire::FormatRecords(rows), true};
}

EndpointReply RunQuery(const Stores& storage, const Statement& statement,
                       std::string_view public_host) {
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
      const auto page = storage.pages.LoadPage(claim.name);
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
    return Refuse(wire::status::kMalformed, "operation 1 takes a query");
  }
  return Records(rows);
}

EndpointReply RunClaim(const Stores& storage, const Statement& statement) {
  const auto* claim = std::get_if<NameClaim>(&statement);
  if (claim == nullptr) return Refuse(wire::status::kMalformed, "operation 2 takes a name claim");
  if (auto problem = CheckMachineId(claim->machine_id))
    return Refuse(wire::status::kMalformed, *problem);
  if (!IsValidPageName(claim->name)) return Refuse(wire::status::kMalformed, "malformed file name");
  const MachineIdHash owner = storage.claims.HashMachineId(claim->machine_id);
  if (auto refusal = RefuseBlocked(storage.admin, owner)) return *refusal;
  if (storage.claims.ClaimName(owner, PageNameKey(claim->name)) == ClaimResult::kTaken)
    return Refuse(wire::status::kTaken, "file name already claimed");
  return {wire::status::kOk, "", false};
}

EndpointReply RunStore(const Stores& storage, const FormFields& fields,
                       std::string_view public_host) {
  if (auto problem = FieldProblem(fields, {wire::kOperationField, wire::kFileField,
                                           wire::kMachineIdField, wire::kDataField}))
    return Refuse(wire::status::kMalformed, "operation 4: " + *problem);
  const std::string& name = fields.find(wire::kFileField)->second;
  if (!IsValidPageName(name)) return Refuse(wire::status::kMalformed, "malformed file name");
  const auto owner = OwnerOf(storage.claims, fields);
  if (const auto* refusal = std::get_if<EndpointReply>(&owner)) return *refusal;
  if (auto refusal = RefuseBlocked(storage.admin, std::get<MachineIdHash>(owner))) return *refusal;
  // Until the operator restores it, a page taken down stays down whoever
  // sends it.
  if (storage.admin.PageWithheld(PageNameKey(name)))
    return Refuse(wire::status::kWithdrawn, "this page was taken down by the site's operator");
  const PageCheck page = CheckSentPage(fields.find(wire::kDataField)->second, public_host);
  if (!page.genuine) return Refuse(wire::status::kUnacceptable, page.refusal);
  if (auto denied = DeniedIn(page.values, storage.deny.DeniedList()))
    return Refuse(wire::status::kUnacceptable, std::move(*denied));
  switch (storage.pages.StorePage(std::get<MachineIdHash>(owner), PageNameKey(name),
                                  fields.find(wire::kDataField)->second)) {
    case StoreResult::kStored:
      return {wire::status::kOk, "", false};
    case StoreResult::kUnclaimed:
      return Refuse(wire::status::kNotYours, "file name not claimed");
    case StoreResult::kNotOwner:
      return Refuse(wire::status::kNotYours, "file name claimed by another machine");
    case StoreResult::kOverQuota:
      return Refuse(wire::status::kOutOfSpace, "the server is out of room for pages");
  }
  return Refuse(500, "unexpected store result");
}

EndpointReply RunTakeDown(const Stores& storage, const FormFields& fields) {
  const auto request = ReadOwnedName(storage.claims, fields, "operation 6");
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

EndpointReply RunRelease(const Stores& storage, const FormFields& fields) {
  const auto request = ReadOwnedName(storage.claims, fields, "operation 7");
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

// The operation `zc` names: one digit, exactly as the program sends it; 0
// for anything else.
int OperationNumber(std::string_view zc) {
  return zc.size() == 1 && zc[0] >= '1' && zc[0] <= '9' ? zc[0] - '0' : 0;
}

std::string_view OperationOf(const Statement& statement) {
  if (std::holds_alternative<SettingsQuery>(statement)) return "settings";
  if (std::holds_alternative<MachineLookup>(statement)) return "ownership lookup";
  if (std::holds_alternative<NameLookup>(statement)) return "name lookup";
  if (std::holds_alternative<NameClaim>(statement)) return "claim";
  return {};
}

std::string NameOf(const Statement& statement) {
  if (const auto* lookup = std::get_if<NameLookup>(&statement)) return lookup->name;
  if (const auto* claim = std::get_if<NameClaim>(&statement)) return claim->name;
  return {};
}

// A lookup of what a machine identifier owns: a hit names a page that the
// same identifier may replace, so these are how identifiers would be guessed.
bool LooksUpMachine(std::string_view body) {
  const auto parsed = ParseForm(body);
  const auto* fields = std::get_if<FormFields>(&parsed);
  if (fields == nullptr) return false;
  const auto sql = fields->find(wire::kStatementField);
  if (sql == fields->end()) return false;
  const std::optional<std::string> text = TextOf(sql->second);
  return text && std::holds_alternative<MachineLookup>(ParseStatement(*text));
}

}  // namespace

EndpointWork PeekEndpointWork(std::string_view body) {
  // The program sends zc first; anything else is read like a query, whose
  // lane refuses nothing it should not.
  for (std::size_t start = 0; start < body.size();) {
    const std::size_t end = std::min(body.find('&', start), body.size());
    const std::string_view field = body.substr(start, end - start);
    if (field == "zc=49")  // "1"
      return LooksUpMachine(body) ? EndpointWork::kLookup : EndpointWork::kRead;
    if (field == "zc=50") return EndpointWork::kClaim;  // "2"
    // Giving a name up is limited like claiming one: together they could
    // otherwise churn names without bound.
    if (field == "zc=55") return EndpointWork::kClaim;  // "7"
    if (field == "zc=52") return EndpointWork::kStore;  // "4"
    // A preview takes room like a store, and counts against the same rate.
    if (field == "zc=53") return EndpointWork::kStore;  // "5"
    if (field == "zc=54") return EndpointWork::kStore;  // "6"
    // Reading a page's receipts names an identifier and a name: a hit tells
    // which identifier owns the name.
    if (field == "zc=56") return EndpointWork::kLookup;  // "8"
    if (field.starts_with("zc=")) return EndpointWork::kRead;
    start = end + 1;
  }
  return EndpointWork::kRead;
}

EndpointReply HandleEndpoint(const Stores& storage, std::string_view body,
                             std::string_view public_host, Audit* audit) {
  Audit ignored;
  std::string_view& operation = (audit != nullptr ? *audit : ignored).operation;
  std::string& name = (audit != nullptr ? *audit : ignored).name;
  auto parsed = ParseForm(body);
  if (auto* error = std::get_if<FormError>(&parsed))
    return Refuse(wire::status::kMalformed, error->message);
  const FormFields& fields = std::get<FormFields>(parsed);
  const auto zc = fields.find(wire::kOperationField);
  if (zc == fields.end()) return Refuse(wire::status::kMalformed, "missing field zc");
  const int number = OperationNumber(zc->second);
  if (number == wire::kStorePage) {
    operation = "store";
    if (const auto file = fields.find(wire::kFileField); file != fields.end()) name = file->second;
    return RunStore(storage, fields, public_host);
  }
  if (number == wire::kStorePreview) {
    operation = "preview store";
    return RunPreviewStore(storage, fields, public_host,
                           audit != nullptr ? audit->sender : AddressBudget{});
  }
  if (number == wire::kTakeDown) {
    operation = "take down";
    if (const auto file = fields.find(wire::kFileField); file != fields.end()) name = file->second;
    return RunTakeDown(storage, fields);
  }
  if (number == wire::kReleaseName) {
    operation = "release";
    if (const auto file = fields.find(wire::kFileField); file != fields.end()) name = file->second;
    return RunRelease(storage, fields);
  }
  if (number == wire::kReceipts) {
    operation = "receipts";
    if (const auto file = fields.find(wire::kFileField); file != fields.end()) name = file->second;
    return RunReceipts(storage, fields, public_host);
  }
  if (number != wire::kQuery && number != wire::kStatement)
    return Refuse(wire::status::kMalformed, "unknown operation");

  if (!HasOnly(fields, {wire::kOperationField, wire::kStatementField}))
    return Refuse(wire::status::kMalformed, "operations 1 and 2 take the fields zc and sql");
  const std::optional<std::string> sql = TextOf(fields.find(wire::kStatementField)->second);
  if (!sql) return Refuse(wire::status::kMalformed, "statement is not valid GBK text");
  const Statement statement = ParseStatement(*sql);
  if (const auto* error = std::get_if<StatementError>(&statement))
    return Refuse(wire::status::kMalformed, error->message);
  operation = OperationOf(statement);
  name = NameOf(statement);
  return number == wire::kQuery ? RunQuery(storage, statement, public_host)
                                : RunClaim(storage, statement);
}

}  // namespace heartpage::server
