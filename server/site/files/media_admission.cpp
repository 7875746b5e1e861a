#include "server/site/files/media_admission.h"

#include <exception>

#include "protocol/wire.h"
#include "server/site/common/client_address.h"
#include "server/site/files/media.h"

namespace heartpage::server {

namespace {

constexpr std::string_view kUploadOperation = "media upload";
constexpr std::string_view kBusy = "server busy, try again later";
// The address's own uploads either finish or fall behind their pace and
// end: a slot is soon free again.
constexpr std::chrono::seconds kAddressSlotRetry{30};

MediaAdmission Refused(unsigned status, std::string_view message,
                       std::chrono::seconds retry_after = {}) {
  MediaAdmission refusal;
  refusal.status = status;
  refusal.message = message;
  refusal.retry_after = retry_after;
  return refusal;
}

}  // namespace

bool UploadGate::TakeAddressSlot(const std::string& key, unsigned slots) {
  const std::lock_guard lock(address_mutex_);
  unsigned& taken = address_uploads_[key];
  if (taken >= slots) {
    if (taken == 0) address_uploads_.erase(key);
    return false;
  }
  ++taken;
  return true;
}

void UploadGate::GiveAddressSlot(const std::string& key) {
  const std::lock_guard lock(address_mutex_);
  const auto it = address_uploads_.find(key);
  if (it != address_uploads_.end() && --it->second == 0) address_uploads_.erase(it);
}

bool UploadGate::MakeWayFor(const std::string& key) {
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard lock(address_mutex_);
  MediaSpool* slowest = nullptr;
  double slowest_pace = 0;
  for (MediaSpool* spool : under_way_) {
    if (spool->sender() == key || spool->GivingWay()) continue;
    const std::optional<double> pace = spool->Pace(now);
    if (pace && (slowest == nullptr || *pace < slowest_pace)) {
      slowest = spool;
      slowest_pace = *pace;
    }
  }
  return slowest != nullptr && slowest->GiveWay();
}

void UploadGate::Track(MediaSpool* spool) {
  const std::lock_guard lock(address_mutex_);
  under_way_.push_back(spool);
}

void UploadGate::Untrack(MediaSpool* spool) {
  const std::lock_guard lock(address_mutex_);
  std::erase(under_way_, spool);
}

MediaAdmission AdmitMedia(const boost::beast::http::request_header<>& header,
                          const MediaLimits& limits, std::string_view public_host,
                          const std::string& client, const std::shared_ptr<UploadGate>& gate,
                          Audit* audit) {
  if (const auto refusal = CheckMediaHeader(header, limits, public_host)) {
    audit->operation = kUploadOperation;
    return Refused(refusal->status, refusal->message);
  }
  if (const auto wait = gate->StoreWait(client); wait.count() > 0) {
    audit->operation = kUploadOperation;
    return Refused(wire::status::kTooMany, "too many requests", wait);
  }
  std::string key = LimitKey(client);
  if (!gate->TakeAddressSlot(key, limits.uploads_per_address)) {
    audit->operation = kUploadOperation;
    return Refused(wire::status::kTooMany, "too many files being sent from this address at once",
                   kAddressSlotRetry);
  }
  if (!gate->TakeUploadSlot(limits.uploads_at_once)) {
    if (!gate->MakeWayFor(key)) {
      gate->GiveAddressSlot(key);
      return Refused(wire::status::kBusy, kBusy);
    }
    gate->ForceUploadSlot();
  }
  MediaAdmission admission;
  // Known once the spool is made; it is tracked only after that.
  auto tracked = std::make_shared<MediaSpool*>(nullptr);
  try {
    admission.spool = std::make_shared<MediaSpool>(limits.spool_dir, [gate, key, tracked] {
      if (*tracked != nullptr) gate->Untrack(*tracked);
      gate->GiveUploadSlot();
      gate->GiveAddressSlot(key);
    });
  } catch (const std::exception& error) {
    // The spool has given its slots back as it failed.
    admission = Refused(wire::status::kBusy, kBusy);
    admission.problem = error.what();
    return admission;
  }
  admission.spool->SetSender(std::move(key));
  admission.spool->KeepPace(limits.MinRate());
  *tracked = admission.spool.get();
  gate->Track(admission.spool.get());
  return admission;
}

}  // namespace heartpage::server
