#include "server/endpoint.h"

#include <initializer_list>
#include <variant>

#include "net/gbk.h"
#include "server/form.h"
#include "server/names.h"
#include "server/records.h"
#include "server/site.h"
#include "server/statement.h"

namespace heartpage::server {
namespace {

constexpr std::size_t kMaxMachineIdBytes = 200;

EndpointReply Refuse(unsigned status, std::string message) {
  return {status, std::move(message) + "\n", false};
}

// Bytes to UTF-8, refusing bytes that are not GBK/GB18030: what we answer must
// read back as exactly what was sent.
std::optional<std::string> TextOf(std::string_view bytes) {
  std::string text = FromGbk(bytes);
  if (ToGbk(text) != bytes) return std::nullopt;
  return text;
}

bool HasOnly(const FormFields& fields, std::initializer_list<std::string_view> names) {
  if (fields.size() != names.size()) return false;
  for (const std::string_view name : names)
    if (!fields.contains(name)) return false;
  return true;
}

std::optional<std::string> CheckMachineId(std::string_view machine_id) {
  if (machine_id.empty()) return "empty machine identifier";
  if (machine_id.size() > kMaxMachineIdBytes) return "machine identifier too long";
  for (const char c : machine_id)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "control character in machine identifier";
  if (SplitsRecord(machine_id)) return "machine identifier contains a record separator";
  return std::nullopt;
}

Row RowOf(const Claim& claim) {
  return {claim.machine_id, claim.name, claim.claimed_at};
}

EndpointReply Records(const std::vector<Row>& rows) {
  return {200, FormatRecords(rows), true};
}

EndpointReply RunQuery(Storage& storage, const Statement& statement, std::string_view public_host) {
  if (std::holds_alternative<SettingsQuery>(statement))
    return Records({SettingsRow(storage.LoadSettings(), public_host)});
  std::vector<Claim> claims;
  if (const auto* lookup = std::get_if<MachineLookup>(&statement)) {
    if (auto problem = CheckMachineId(lookup->machine_id)) return Refuse(400, *problem);
    claims = storage.ClaimsOfMachine(lookup->machine_id);
  } else if (const auto* lookup = std::get_if<NameLookup>(&statement)) {
    if (!IsValidPageName(lookup->name)) return Refuse(400, "malformed file name");
    claims = storage.ClaimsOfName(lookup->name);
  } else {
    return Refuse(400, "operation 1 takes a query");
  }
  std::vector<Row> rows;
  for (const Claim& claim : claims) rows.push_back(RowOf(claim));
  return Records(rows);
}

EndpointReply RunClaim(Storage& storage, const Statement& statement) {
  const auto* claim = std::get_if<NameClaim>(&statement);
  if (claim == nullptr) return Refuse(400, "operation 2 takes a name claim");
  if (auto problem = CheckMachineId(claim->machine_id)) return Refuse(400, *problem);
  if (!IsValidPageName(claim->name)) return Refuse(400, "malformed file name");
  if (storage.ClaimName(claim->machine_id, claim->name) == ClaimResult::kTaken)
    return Refuse(409, "file name already claimed");
  return {200, "", false};
}

EndpointReply RunStore(Storage& storage, const FormFields& fields) {
  if (!HasOnly(fields, {"zc", "File", "data"}))
    return Refuse(400, "operation 4 takes the fields zc, File and data");
  const std::string& name = fields.find("File")->second;
  if (!IsValidPageName(name)) return Refuse(400, "malformed file name");
  if (storage.StorePage(name, fields.find("data")->second) == StoreResult::kUnclaimed)
    return Refuse(403, "file name not claimed");
  return {200, "", false};
}

}  // namespace

EndpointReply HandleEndpoint(Storage& storage, std::string_view body,
                             std::string_view public_host) {
  auto parsed = ParseForm(body);
  if (auto* error = std::get_if<FormError>(&parsed)) return Refuse(400, error->message);
  const FormFields& fields = std::get<FormFields>(parsed);
  const auto zc = fields.find("zc");
  if (zc == fields.end()) return Refuse(400, "missing field zc");
  const std::string& operation = zc->second;
  if (operation == "4") return RunStore(storage, fields);
  if (operation != "1" && operation != "2") return Refuse(400, "unknown operation");

  if (!HasOnly(fields, {"zc", "sql"}))
    return Refuse(400, "operations 1 and 2 take the fields zc and sql");
  const std::optional<std::string> sql = TextOf(fields.find("sql")->second);
  if (!sql) return Refuse(400, "statement is not valid GBK text");
  const Statement statement = ParseStatement(*sql);
  if (const auto* error = std::get_if<StatementError>(&statement))
    return Refuse(400, error->message);
  return operation == "1" ? RunQuery(storage, statement, public_host)
                          : RunClaim(storage, statement);
}

}  // namespace heartpage::server
