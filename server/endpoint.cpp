#include "server/endpoint.h"

#include <algorithm>
#include <initializer_list>
#include <variant>

#include "net/gbk.h"
#include "server/endpoint_checks.h"
#include "server/form.h"
#include "server/names.h"
#include "server/previews.h"
#include "server/records.h"
#include "server/site.h"
#include "server/statement.h"

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
  if (SplitsRecord(machine_id)) return "machine identifier contains a record separator";
  return std::nullopt;
}

namespace {

EndpointReply Records(const std::vector<Row>& rows) {
  return {200, FormatRecords(rows), true};
}

EndpointReply RunQuery(Storage& storage, const Statement& statement, std::string_view public_host) {
  if (std::holds_alternative<SettingsQuery>(statement))
    return Records({SettingsRow(storage.LoadSettings(), public_host)});
  std::vector<Row> rows;
  if (const auto* lookup = std::get_if<MachineLookup>(&statement)) {
    if (auto problem = CheckMachineId(lookup->machine_id)) return Refuse(400, *problem);
    // The asker already knows the identifier: echoing it gives nothing away.
    for (const Claim& claim : storage.ClaimsOfMachine(storage.HashMachineId(lookup->machine_id)))
      rows.push_back({lookup->machine_id, claim.name, claim.claimed_at});
  } else if (const auto* name_lookup = std::get_if<NameLookup>(&statement)) {
    if (!IsValidPageName(name_lookup->name)) return Refuse(400, "malformed file name");
    // Whether a name is taken is public; whose it is is not.
    for (const Claim& claim : storage.ClaimsOfName(PageNameKey(name_lookup->name)))
      rows.push_back({"", claim.name, claim.claimed_at});
  } else {
    return Refuse(400, "operation 1 takes a query");
  }
  return Records(rows);
}

EndpointReply RunClaim(Storage& storage, const Statement& statement) {
  const auto* claim = std::get_if<NameClaim>(&statement);
  if (claim == nullptr) return Refuse(400, "operation 2 takes a name claim");
  if (auto problem = CheckMachineId(claim->machine_id)) return Refuse(400, *problem);
  if (!IsValidPageName(claim->name)) return Refuse(400, "malformed file name");
  if (storage.ClaimName(storage.HashMachineId(claim->machine_id), PageNameKey(claim->name)) ==
      ClaimResult::kTaken)
    return Refuse(409, "file name already claimed");
  return {200, "", false};
}

EndpointReply RunStore(Storage& storage, const FormFields& fields) {
  if (auto problem = FieldProblem(fields, {"zc", "File", "ID", "data"}))
    return Refuse(400, "operation 4: " + *problem);
  const std::string& name = fields.find("File")->second;
  if (!IsValidPageName(name)) return Refuse(400, "malformed file name");
  const std::optional<std::string> machine_id = TextOf(fields.find("ID")->second);
  if (!machine_id) return Refuse(400, "machine identifier is not valid GBK text");
  if (auto problem = CheckMachineId(*machine_id)) return Refuse(400, *problem);
  switch (storage.StorePage(storage.HashMachineId(*machine_id), PageNameKey(name),
                            fields.find("data")->second)) {
    case StoreResult::kStored:
      return {200, "", false};
    case StoreResult::kUnclaimed:
      return Refuse(403, "file name not claimed");
    case StoreResult::kNotOwner:
      return Refuse(403, "file name claimed by another machine");
    case StoreResult::kOverQuota:
      return Refuse(507, "the server is out of room for pages");
  }
  return Refuse(500, "unexpected store result");
}

EndpointReply RunTakeDown(Storage& storage, const FormFields& fields) {
  if (auto problem = FieldProblem(fields, {"zc", "File", "ID"}))
    return Refuse(400, "operation 6: " + *problem);
  const std::string& name = fields.find("File")->second;
  if (!IsValidPageName(name)) return Refuse(400, "malformed file name");
  const std::optional<std::string> machine_id = TextOf(fields.find("ID")->second);
  if (!machine_id) return Refuse(400, "machine identifier is not valid GBK text");
  if (auto problem = CheckMachineId(*machine_id)) return Refuse(400, *problem);
  switch (storage.TakeDownPage(storage.HashMachineId(*machine_id), PageNameKey(name))) {
    case TakeDownResult::kTakenDown:
      return {200, "", false};
    case TakeDownResult::kUnclaimed:
      return Refuse(404, "file name not claimed");
    case TakeDownResult::kNotOwner:
      return Refuse(403, "file name claimed by another machine");
  }
  return Refuse(500, "unexpected take-down result");
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

}  // namespace

EndpointWork PeekEndpointWork(std::string_view body) {
  // The program sends zc first; anything else is read like a query, whose
  // lane refuses nothing it should not.
  for (std::size_t start = 0; start < body.size();) {
    const std::size_t end = std::min(body.find('&', start), body.size());
    const std::string_view field = body.substr(start, end - start);
    if (field == "zc=50") return EndpointWork::kClaim;  // "2"
    if (field == "zc=52") return EndpointWork::kStore;  // "4"
    // A preview takes room like a store, and counts against the same rate.
    if (field == "zc=53") return EndpointWork::kStore;  // "5"
    if (field == "zc=54") return EndpointWork::kStore;  // "6"
    if (field.starts_with("zc=")) return EndpointWork::kRead;
    start = end + 1;
  }
  return EndpointWork::kRead;
}

EndpointReply HandleEndpoint(Storage& storage, std::string_view body, std::string_view public_host,
                             Audit* audit) {
  Audit ignored;
  std::string_view& operation = (audit != nullptr ? *audit : ignored).operation;
  std::string& name = (audit != nullptr ? *audit : ignored).name;
  auto parsed = ParseForm(body);
  if (auto* error = std::get_if<FormError>(&parsed)) return Refuse(400, error->message);
  const FormFields& fields = std::get<FormFields>(parsed);
  const auto zc = fields.find("zc");
  if (zc == fields.end()) return Refuse(400, "missing field zc");
  if (zc->second == "4") {
    operation = "store";
    if (const auto file = fields.find("File"); file != fields.end()) name = file->second;
    return RunStore(storage, fields);
  }
  if (zc->second == "5") {
    operation = "preview store";
    return RunPreviewStore(storage, fields, public_host);
  }
  if (zc->second == "6") {
    operation = "take down";
    if (const auto file = fields.find("File"); file != fields.end()) name = file->second;
    return RunTakeDown(storage, fields);
  }
  if (zc->second != "1" && zc->second != "2") return Refuse(400, "unknown operation");

  if (!HasOnly(fields, {"zc", "sql"}))
    return Refuse(400, "operations 1 and 2 take the fields zc and sql");
  const std::optional<std::string> sql = TextOf(fields.find("sql")->second);
  if (!sql) return Refuse(400, "statement is not valid GBK text");
  const Statement statement = ParseStatement(*sql);
  if (const auto* error = std::get_if<StatementError>(&statement))
    return Refuse(400, error->message);
  operation = OperationOf(statement);
  name = NameOf(statement);
  return zc->second == "1" ? RunQuery(storage, statement, public_host)
                           : RunClaim(storage, statement);
}

}  // namespace heartpage::server
