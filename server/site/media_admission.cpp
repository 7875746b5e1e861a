#include "server/site/media_admission.h"

#include <exception>

#include "protocol/wire.h"
#include "server/site/media.h"

namespace heartpage::server {

namespace {

constexpr std::string_view kUploadOperation = "media upload";
constexpr std::string_view kBusy = "server busy, try again later";

MediaAdmission Refused(unsigned status, std::string_view message,
                       std::chrono::seconds retry_after = {}) {
  MediaAdmission refusal;
  refusal.status = status;
  refusal.message = message;
  refusal.retry_after = retry_after;
  return refusal;
}

}  // namespace

MediaAdmission AdmitMedia(const boost::beast::http::request_header<>& header,
                          const MediaLimits& limits, const std::string& client,
                          const std::shared_ptr<UploadGate>& gate, Audit* audit) {
  if (const auto refusal = CheckMediaHeader(header, limits)) {
    audit->operation = kUploadOperation;
    return Refused(refusal->status, refusal->message);
  }
  if (const auto wait = gate->StoreWait(client); wait.count() > 0) {
    audit->operation = kUploadOperation;
    return Refused(wire::status::kTooMany, "too many requests", wait);
  }
  if (!gate->TakeUploadSlot(limits.uploads_at_once)) return Refused(wire::status::kBusy, kBusy);
  MediaAdmission admission;
  try {
    admission.spool =
        std::make_shared<MediaSpool>(limits.spool_dir, [gate] { gate->GiveUploadSlot(); });
  } catch (const std::exception& error) {
    // The spool has given its slot back as it failed.
    admission = Refused(wire::status::kBusy, kBusy);
    admission.problem = error.what();
  }
  return admission;
}

}  // namespace heartpage::server
