#pragma once

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "server/site/common/endpoint_request.h"
#include "server/site/common/media_limits.h"
#include "server/site/files/media_spool.h"

namespace heartpage::server {

// What every file being sent shares with the others, whichever connection
// receives it: the rate at which a client may store, and the slots of the
// files received at once.
class UploadGate {
 public:
  virtual ~UploadGate() = default;
  // Zero when `client` may store now; otherwise how long it should wait.
  virtual std::chrono::seconds StoreWait(const std::string& client) = 0;
  // Takes one of `slots` slots; false, taking none, when all are in use.
  virtual bool TakeUploadSlot(unsigned slots) = 0;
  virtual void GiveUploadSlot() = 0;

  // The same for the slots of one client address (its limit key), so that
  // no one address holds every slot.
  bool TakeAddressSlot(const std::string& key, unsigned slots);
  void GiveAddressSlot(const std::string& key);

  // Every slot is taken: the slowest file under way from another address
  // than `key`, past its grace, is told to give way to the newcomer, who may
  // then take a slot beside the others (ForceUploadSlot), since that file's
  // is as good as free. False when there is none.
  bool MakeWayFor(const std::string& key);
  virtual void ForceUploadSlot() = 0;

  // The files under way, that MakeWayFor chooses among.
  void Track(MediaSpool* spool);
  void Untrack(MediaSpool* spool);

 private:
  std::mutex address_mutex_;
  std::map<std::string, unsigned, std::less<>> address_uploads_;
  std::vector<MediaSpool*> under_way_;
};

// Whether a file may start coming in: refused (`status` set, with its
// message and, when above zero, how long to wait before asking again), or
// to be written into `spool`.
struct MediaAdmission {
  unsigned status = 0;
  std::string_view message;
  std::chrono::seconds retry_after{0};
  std::shared_ptr<MediaSpool> spool;
  // For the server's own log: why no spool could be made.
  std::string problem;
};

// Decides on a file from its header alone, before any of its body is read:
// the header's own faults, then the client's store rate, then a free upload
// slot of its address and of the server (the slowest file from elsewhere
// giving way when they are all taken), then a spool on disk, which holds
// the slots until it goes and must be filled at the limits' pace. `audit`
// learns when the refusal is the upload's own, for the log.
MediaAdmission AdmitMedia(const boost::beast::http::request_header<>& header,
                          const MediaLimits& limits, std::string_view public_host,
                          const std::string& client, const std::shared_ptr<UploadGate>& gate,
                          Audit* audit);

}  // namespace heartpage::server
