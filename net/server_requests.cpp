#include "net/server_requests.h"

#include <algorithm>

#include "net/host.h"
#include "net/value_encoding.h"

namespace heartpage {
namespace {

constexpr int kQuery = 1;
constexpr int kStatement = 2;

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  for (std::size_t pos = 0;;) {
    const std::size_t hit = text.find(separator, pos);
    pieces.emplace_back(text.substr(pos, hit - pos));
    if (hit == std::string_view::npos) return pieces;
    pos = hit + separator.size();
  }
}

std::string Quoted(std::string_view value) {
  return "'" + QuoteValue(value) + "'";
}

}  // namespace

std::string QuoteValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

std::string SettingsStatement() {
  return "select * from " + std::string(kSettingsTable);
}

std::string OwnershipLookupStatement(std::string_view machine_id) {
  return "select * from " + std::string(kClaimsTable) + " where 硬盘ID=" + Quoted(machine_id);
}

std::string NameLookupStatement(std::string_view name) {
  return "select * from " + std::string(kClaimsTable) + " where 文件名=" + Quoted(name);
}

std::string NameClaimStatement(std::string_view machine_id, std::string_view name) {
  return "insert into " + std::string(kClaimsTable) + " (硬盘ID,文件名) values (" +
         Quoted(machine_id) + ", " + Quoted(name) + ")";
}

std::string StatementBody(int operation, std::string_view statement) {
  return "zc=" + EncodeValue(operation) + "&sql=" + EncodeValue(statement);
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
                             std::string_view page) {
  std::string data = EncodeValue(page);
  std::string body = "zc=" + EncodeValue("4") + "&File=" + EncodeValue(name) +
                     "&ID=" + EncodeValue(machine_id) + "&data=";
  body.reserve(body.size() + data.size());
  body += data;
  return body;
}

std::string PreviewStoreRequest(std::string_view machine_id, std::string_view page) {
  std::string data = EncodeValue(page);
  std::string body = "zc=" + EncodeValue(std::to_string(kPreviewStoreOperation)) +
                     "&ID=" + EncodeValue(machine_id) + "&data=";
  body.reserve(body.size() + data.size());
  body += data;
  return body;
}

std::string TakeDownRequest(std::string_view name, std::string_view machine_id) {
  return "zc=" + EncodeValue(std::to_string(kTakeDownOperation)) + "&File=" + EncodeValue(name) +
         "&ID=" + EncodeValue(machine_id);
}

std::optional<std::vector<std::string>> FirstRecord(std::string_view answer) {
  const std::size_t start = answer.find(kRecordSeparator);
  if (start == std::string_view::npos) return std::nullopt;
  const std::string_view rest = answer.substr(start + kRecordSeparator.size());
  const std::string_view record = rest.substr(0, rest.find(kRecordSeparator));
  if (record.empty()) return std::vector<std::string>{};
  return Split(record, kFieldSeparator);
}

std::string OwnedNameIn(std::string_view answer, std::string_view machine_id) {
  const auto record = FirstRecord(answer);
  if (!record || record->size() < 2 || (*record)[0] != machine_id) return {};
  return (*record)[1];
}

bool NameTakenIn(std::string_view answer, std::string_view name) {
  const auto record = FirstRecord(answer);
  if (!record || record->size() < 2 || (*record)[1].size() != name.size()) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::equal(name.begin(), name.end(), (*record)[1].begin(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

PostResult PostToEndpoint(const std::string& body) {
  return PostFormChecked(EndpointAddress(), body);
}

// An error page is not a record set, whatever text it holds.
std::optional<std::vector<std::string>> FetchSettings(const Poster& post) {
  const PostResult answer = post(SettingsRequest());
  if (!answer.ok) return std::nullopt;
  return FirstRecord(answer.text);
}

std::string FetchOwnedName(std::string_view machine_id, const Poster& post) {
  const PostResult answer = post(OwnershipLookupRequest(machine_id));
  if (!answer.ok) return {};
  return OwnedNameIn(answer.text, machine_id);
}

}  // namespace heartpage
