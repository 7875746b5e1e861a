#include "server/site/policy/endpoint_checks.h"

#include <algorithm>
#include <ctime>

#include "protocol/page_name.h"
#include "protocol/wire.h"
#include "text/gbk.h"
#include "text/utf8.h"

namespace heartpage::server {

constexpr std::size_t kMaxMachineIdBytes = 200;

constexpr std::size_t kMaxRefusalBytes = 160;

// Refusals stay one short line, however long a value they quote.
EndpointReply Refuse(unsigned status, std::string message) {
  if (message.size() > kMaxRefusalBytes) {
    message.resize(Utf8CutAt(message, kMaxRefusalBytes));
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

// Names the first field missing from, or not belonging to, an operation, so
// that a client of another version learns what to send.
std::optional<std::string> FieldProblem(const FormFields& fields,
                                        std::initializer_list<std::string_view> names,
                                        std::initializer_list<std::string_view> optional) {
  for (const std::string_view name : names)
    if (!fields.contains(name)) return "missing field " + std::string(name);
  for (const auto& [name, value] : fields)
    if (std::ranges::find(names, name) == names.end() &&
        std::ranges::find(optional, name) == optional.end())
      return "unexpected field " + name;
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

EndpointReply TryTomorrow(std::string message) {
  EndpointReply reply = Refuse(wire::status::kTooMany, std::move(message));
  reply.retry_after = SecondsToNextUsageDay(std::time(nullptr));
  return reply;
}

std::optional<EndpointReply> RefuseBlocked(AdminStore& admin, const MachineIdHash& owner) {
  if (!admin.OwnerBlocked(owner)) return std::nullopt;
  return Refuse(wire::status::kNotYours, std::string(kBlockedRefusal));
}

}  // namespace heartpage::server
