#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "server/site/common/endpoint_request.h"
#include "server/site/common/form.h"
#include "server/storage/storage.h"

// The checks every operation of the endpoint makes alike (endpoint.cpp).
namespace heartpage::server {

// A refusal: one short line, however long a value it quotes.
EndpointReply Refuse(unsigned status, std::string message);
// 429 for what an address may send again once the usage day turns, with
// the wait until then.
EndpointReply TryTomorrow(std::string message);

// Bytes to UTF-8, refusing bytes that are not GBK/GB18030.
std::optional<std::string> TextOf(std::string_view bytes);

// The first of `names` missing from `fields`, or the first field that is
// neither one of them nor one of `optional`.
std::optional<std::string> FieldProblem(const FormFields& fields,
                                        std::initializer_list<std::string_view> names,
                                        std::initializer_list<std::string_view> optional = {});

// Why a machine identifier is refused; std::nullopt when it is fine.
std::optional<std::string> CheckMachineId(std::string_view machine_id);

// An identifier as it came, in GBK bytes (the endpoint's ID field, a media
// post's header), as text when it is one; otherwise why it is not.
struct MachineIdText {
  std::optional<std::string> text;
  std::string problem;
};
MachineIdText ReadMachineId(std::string_view bytes);

// Whom an operation that changes something acts for: the hash of the
// identifier in its `ID` field (which FieldProblem found present), or the
// refusal to answer when that identifier is not one.
std::variant<MachineIdHash, EndpointReply> OwnerOf(ClaimStore& claims, const FormFields& fields);

// An operation on one name for its owner (take-down, release, receipts):
// its fields whole, the name well formed and the identifier one, else the
// refusal; `operation` names it in a refusal ("operation 6").
struct OwnedName {
  std::string name;
  MachineIdHash owner;
};
std::variant<OwnedName, EndpointReply> ReadOwnedName(ClaimStore& claims, const FormFields& fields,
                                                     std::string_view operation);

// The refusal of a machine the operator blocked (AdminStore::BlockOwner),
// which claims, stores, uploads and previews answer alike.
inline constexpr std::string_view kBlockedRefusal =
    "this machine may no longer publish on this site (blocked by its operator)";
std::optional<EndpointReply> RefuseBlocked(AdminStore& admin, const MachineIdHash& owner);

}  // namespace heartpage::server
