#include "publish/upload.h"

#include <exception>
#include <optional>

#include "protocol/host.h"
#include "protocol/page_name.h"
#include "publish/answer_messages.h"
#include "publish/release_name.h"
#include "publish/take_down.h"

namespace heartpage {
namespace {

// The answers the upload tells apart; every other failure reads as one.
constexpr long kForbidden = wire::status::kNotYours;  // the name belongs to another machine

UploadOutcome Failure(std::string name, std::string_view status) {
  return {false, std::move(name), std::string(status), {}, {}, false};
}

}  // namespace

NameCheck CheckName(std::string_view name, std::string_view machine_id,
                    const UploadServices& services) {
  const PostResult lookup = services.post(NameLookupRequest(name));
  if (!lookup.ok) return {false, false, std::string(MessageForStatus(lookup.status))};
  if (!NameTakenIn(lookup.text, name)) return {true, false, {}};
  // Whether this machine already holds the claim: an earlier upload whose
  // store did not get through. The name lookup does not say whose a name
  // is, so the machine asks which name it owns.
  const PostResult owned = services.post(OwnershipLookupRequest(machine_id));
  if (!owned.ok) return {false, false, std::string(MessageForStatus(owned.status))};
  if (OwnedNameIn(owned.text, machine_id) == name) return {false, true, {}};
  return {false, false, std::string(upload_text::kNameTaken)};
}

std::optional<std::string> ReadMachineId(const UploadServices& services) {
  try {
    return services.machine_id();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string upload_text::NameQuestion(std::string_view name) {
  return "网页地址将是 " + PageAddress(name) + " ，确认使用这个名字吗？";
}

std::string upload_text::OnlineSince(std::string_view local_time) {
  return "（服务器上的网页发布于 " + std::string(local_time) + "）";
}

std::string NoteText() {
  return "注释：上传文件名即" + PageAddress("") + "（您的文件名）";
}

UploadOutcome Upload(std::string_view typed, bool name_owned, std::string_view page,
                     const UploadServices& services, const NameCheck* checked,
                     const wire::PageSettings& settings) {
  const std::string name = PageNameKey(typed);
  // A failure leaves an owned name owned: only the server's word that the
  // name is another machine's takes it away.
  const auto failure = [&](std::string_view status) {
    UploadOutcome outcome = Failure(name, status);
    if (name_owned) outcome.owned_name = name;
    return outcome;
  };
  if (name.empty()) return failure(upload_text::kEmptyName);
  if (!IsValidPageName(name)) return failure(upload_text::kNameRule);

  // Read before anything is sent: every store names the machine, and without
  // the identifier a lookup alone would only waste the user's wait.
  const std::optional<std::string> id = ReadMachineId(services);
  if (!id) return failure(upload_text::kNoMachineId);
  const std::string& machine_id = *id;

  if (!name_owned) {
    const NameCheck check = checked != nullptr ? *checked : CheckName(name, machine_id, services);
    if (!check.free && !check.ours) return failure(check.status);
    if (!check.ours) {
      const PostResult claim = services.post(NameClaimRequest(machine_id, name));
      // Another machine may claim the name between our lookup and our claim;
      // the server lets only one of the two through.
      if (!claim.ok) {
        UploadOutcome outcome = failure(MessageForStatus(claim.status));
        outcome.unanswered = claim.status == 0;
        return outcome;
      }
    }
  }

  const PostResult store = services.post(PageStoreRequest(name, machine_id, page, settings));
  // The server gives the name to another machine: it is taken, whatever this
  // machine believed it owned, and the user may choose another.
  if (store.status == kForbidden) return Failure(name, upload_text::kNameTaken);
  // The server publishes only what the program builds; the sender learns
  // that this page is not, whatever made it.
  if (!store.ok) {
    UploadOutcome outcome = failure(MessageForStatus(store.status));
    outcome.unanswered = store.status == 0;
    return outcome;
  }
  return {true, name, std::string(upload_text::kUploaded), PageAddress(name), name, false};
}

StatusKind KindOfStatus(std::string_view status) {
  // A state rather than an outcome: neither success nor failure.
  if (status == upload_text::kUploading || status == upload_text::kNoPageOnline || status.empty())
    return StatusKind::kProgress;
  if (status == upload_text::kUploaded || status == upload_text::kCopied ||
      status == qr_text::kSaved || status == upload_text::kTakenDown ||
      status == upload_text::kReleased || status == poster_text::kSaved ||
      status == poster_text::kCopied)
    return StatusKind::kSuccess;
  return StatusKind::kFailure;
}

std::string_view CopyStatus(std::string_view address) {
  return address.empty() ? upload_text::kCopyFirst : upload_text::kCopied;
}

}  // namespace heartpage
