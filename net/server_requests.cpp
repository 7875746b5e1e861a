#include "net/server_requests.h"

#include "protocol/host.h"

namespace heartpage {

PostResult PostToEndpoint(const std::string& body) {
  return PostFormChecked(EndpointAddress(), body);
}

// An error page is not a record set, whatever text it holds.
std::optional<std::vector<std::string>> FetchSettings(const Poster& post) {
  const PostResult answer = post(SettingsRequest());
  if (!answer.ok) return std::nullopt;
  return wire::FirstRecord(answer.text);
}

std::string FetchOwnedName(std::string_view machine_id, const Poster& post) {
  const PostResult answer = post(OwnershipLookupRequest(machine_id));
  if (!answer.ok) return {};
  return OwnedNameIn(answer.text, machine_id);
}

std::optional<OwnedPage> FetchOwnedPage(std::string_view machine_id, const Poster& post) {
  const PostResult answer = post(OwnershipLookupRequest(machine_id));
  if (!answer.ok) return std::nullopt;
  OwnedPage owned{OwnedNameIn(answer.text, machine_id), {}};
  if (const auto record = wire::FirstRecord(answer.text);
      !owned.name.empty() && record && record->size() >= 4)
    owned.stored_at = (*record)[3];
  return owned;
}

}  // namespace heartpage
