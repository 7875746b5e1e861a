#include "protocol/requests.h"

#include <utility>

#include "protocol/page_name.h"
#include "text/value_encoding.h"

namespace heartpage {
namespace {

using namespace wire;

// "&name=" followed by the encoded value.
void AppendField(std::string& body, std::string_view name, std::string_view value) {
  body += '&';
  body += name;
  body += '=';
  body += EncodeValue(value);
}

std::string OperationField(int operation) {
  return std::string(kOperationField) + "=" + EncodeValue(std::to_string(operation));
}

// The page goes last and is by far the longest field: encoded once, into a
// body grown once.
std::string WithPage(std::string body, std::string_view page) {
  const std::string data = EncodeValue(page);
  body.reserve(body.size() + kDataField.size() + 2 + data.size());
  body += '&';
  body += kDataField;
  body += '=';
  body += data;
  return body;
}

// An operation on one page for its owner: "zc=…&File=…&ID=…".
std::string OwnerRequest(int operation, std::string_view name, std::string_view machine_id) {
  std::string body = OperationField(operation);
  AppendField(body, kFileField, name);
  AppendField(body, kMachineIdField, machine_id);
  return body;
}

}  // namespace

std::string StatementBody(int operation, std::string_view statement) {
  std::string body = OperationField(operation);
  AppendField(body, kStatementField, statement);
  return body;
}

std::string SettingsRequest() {
  return StatementBody(kQuery, SettingsStatement());
}

std::string OwnershipLookupRequest(std::string_view machine_id) {
  return StatementBody(kQuery, OwnershipLookupStatement(machine_id));
}

std::string NameLookupRequest(std::string_view name) {
  return StatementBody(kQuery, NameLookupStatement(name));
}

std::string NameClaimRequest(std::string_view machine_id, std::string_view name) {
  return StatementBody(kStatement, NameClaimStatement(machine_id, name));
}

std::string PageStoreRequest(std::string_view name, std::string_view machine_id,
                             std::string_view page, const PageSettings& settings) {
  std::string body = OperationField(kStorePage);
  AppendField(body, kFileField, name);
  AppendField(body, kMachineIdField, machine_id);
  if (!settings.opens.empty()) AppendField(body, kOpensField, settings.opens);
  if (!settings.code.empty()) AppendField(body, kCodeField, settings.code);
  if (!settings.hint.empty()) AppendField(body, kHintField, settings.hint);
  return WithPage(std::move(body), page);
}

std::string PreviewStoreRequest(std::string_view machine_id, std::string_view page) {
  std::string body = OperationField(kStorePreview);
  AppendField(body, kMachineIdField, machine_id);
  return WithPage(std::move(body), page);
}

std::string TakeDownRequest(std::string_view name, std::string_view machine_id) {
  return OwnerRequest(kTakeDown, name, machine_id);
}

std::string ReleaseRequest(std::string_view name, std::string_view machine_id) {
  return OwnerRequest(kReleaseName, name, machine_id);
}

std::string ReceiptsRequest(std::string_view name, std::string_view machine_id) {
  return OwnerRequest(kReceipts, name, machine_id);
}

std::string OwnedNameIn(std::string_view answer, std::string_view machine_id) {
  const auto record = FirstRecord(answer);
  if (!record || record->size() < 2 || (*record)[0] != machine_id) return {};
  return (*record)[1];
}

bool NameTakenIn(std::string_view answer, std::string_view name) {
  const auto record = FirstRecord(answer);
  return record && record->size() >= 2 && PageNameKey((*record)[1]) == PageNameKey(name);
}

}  // namespace heartpage
