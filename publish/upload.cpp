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

UploadOutcome Failure(std::string_view status) {
  return {false, std::string(status), {}, {}};
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

std::string NoteText() {
  return "注释：上传文件名即" + PageAddress("") + "（您的文件名）";
}

UploadOutcome Upload(std::string_view name, bool name_owned, std::string_view page,
                     const UploadServices& services) {
  if (name.empty()) return Failure(upload_text::kEmptyName);
  if (!IsValidName(name)) return Failure(upload_text::kNameRule);

  UploadOutcome outcome;
  if (name_owned) {
    outcome.owned_name = name;
  } else {
    const PostResult lookup = services.post(NameLookupRequest(name));
    if (!lookup.ok) {
      return Failure(lookup.status == 0 ? upload_text::kServerUnreachable
                                        : upload_text::kServerError);
    }
    if (NameTakenIn(lookup.text, name)) return Failure(upload_text::kNameTaken);

    std::string machine_id;
    try {
      machine_id = services.machine_id();
    } catch (const std::exception&) {
      return Failure(upload_text::kNoMachineId);
    }
    const PostResult claim = services.post(NameClaimRequest(machine_id, name));
    // Another machine may claim the name between our lookup and our claim;
    // the server lets only one of the two through.
    if (claim.status == kConflict) return Failure(upload_text::kNameTaken);
    if (!claim.ok) {
      return Failure(claim.status == 0 ? upload_text::kServerUnreachable
                                       : upload_text::kClaimFailed);
    }
    outcome.owned_name = name;
  }

  const PostResult store = services.post(PageStoreRequest(name, page));
  if (!store.ok) {
    outcome.status =
        store.status == 0 ? upload_text::kServerUnreachable : upload_text::kStoreFailed;
    return outcome;
  }
  outcome.uploaded = true;
  outcome.status = upload_text::kUploaded;
  outcome.address = PageAddress(name);
  return outcome;
}

std::string_view CopyStatus(std::string_view address) {
  return address.empty() ? upload_text::kCopyFirst : upload_text::kCopied;
}

}  // namespace heartpage
