#include "publish/upload.h"

#include <exception>

#include "net/host.h"

namespace heartpage {
namespace {

constexpr int kBackspace = 8;
constexpr long kConflict = 409;

bool IsAsciiAlnum(int code) {
  return (code >= '0' && code <= '9') || (code >= 'a' && code <= 'z') ||
         (code >= 'A' && code <= 'Z');
}

UploadOutcome Failure(std::string name, std::string_view status) {
  return {false, std::move(name), std::string(status), {}, {}};
}

// Whether a lookup answer's first row is this machine's own claim of `name`,
// left behind by an upload whose store did not get through.
bool OwnClaimIn(std::string_view answer, std::string_view name, std::string_view machine_id) {
  const auto fields = FirstRecord(answer);
  return fields && fields->size() > 1 && (*fields)[0] == machine_id && (*fields)[1] == name;
}

}  // namespace

int FilterNameKey(int code) {
  if (code == kBackspace) return code;
  if (!IsAsciiAlnum(code)) return 0;
  return code >= 'A' && code <= 'Z' ? code + ('a' - 'A') : code;
}

bool IsValidName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (const char c : name) {
    if (!IsAsciiAlnum(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string NormalizeName(std::string_view name) {
  std::string small(name);
  for (char& c : small) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return small;
}

std::string NoteText() {
  return "注释：上传文件名即" + PageAddress("") + "（您的文件名）";
}

UploadOutcome Upload(std::string_view typed, bool name_owned, std::string_view page,
                     const UploadServices& services) {
  const std::string name = NormalizeName(typed);
  if (name.empty()) return Failure(name, upload_text::kEmptyName);
  if (!IsValidName(name)) return Failure(name, upload_text::kNameRule);

  if (!name_owned) {
    // Read before anything is sent: without it the name cannot be claimed,
    // and a lookup alone would only waste the user's wait.
    std::string machine_id;
    try {
      machine_id = services.machine_id();
    } catch (const std::exception&) {
      return Failure(name, upload_text::kNoMachineId);
    }
    const PostResult lookup = services.post(NameLookupRequest(name));
    if (!lookup.ok) return Failure(name, upload_text::kUploadFailed);
    if (!OwnClaimIn(lookup.text, name, machine_id)) {
      if (NameTakenIn(lookup.text, name)) return Failure(name, upload_text::kNameTaken);
      const PostResult claim = services.post(NameClaimRequest(machine_id, name));
      // Another machine may claim the name between our lookup and our claim;
      // the server lets only one of the two through.
      if (claim.status == kConflict) return Failure(name, upload_text::kNameTaken);
      if (!claim.ok) return Failure(name, upload_text::kUploadFailed);
    }
  }

  const PostResult store = services.post(PageStoreRequest(name, page));
  if (!store.ok) {
    UploadOutcome outcome = Failure(name, upload_text::kUploadFailed);
    if (name_owned) outcome.owned_name = name;
    return outcome;
  }
  return {true, name, std::string(upload_text::kUploaded), PageAddress(name), name};
}

std::string_view CopyStatus(std::string_view address) {
  return address.empty() ? upload_text::kCopyFirst : upload_text::kCopied;
}

}  // namespace heartpage
