#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "server/storage/address_usage.h"
#include "server/storage/machine_id_hash.h"
#include "server/storage/page_store.h"

namespace heartpage::server {

// A temporary preview as a visitor finds it: live (with its page), or
// expired, which its token still says for a while after.
struct PreviewPage {
  bool expired = false;
  std::shared_ptr<const StoredPage> page;  // null when expired
};
// kOverAddressDaily: the sender's address used its AddressBudget::daily;
// kOverAddressShare: its live previews would pass their share of the room.
enum class PreviewStoreResult { kStored, kOverQuota, kOverAddressDaily, kOverAddressShare };

// The bounds of temporary previews, which both engines keep alike.
// Live previews a machine may have; a new one ends the oldest.
inline constexpr int kPreviewsPerMachine = 3;
// How long an expired token still answers "expired" before it is forgotten.
inline constexpr std::int64_t kExpiredPreviewMemorySeconds = 24 * 60 * 60;
// Previews have room of their own beside the pages: this share of the page
// limit, so that a flood of them cannot keep anyone from publishing.
inline constexpr std::uint64_t kPreviewShareOfPageLimit = 8;

// Temporary previews. They are never kept in memory: no process can serve
// one that has expired or ended.
class PreviewStore {
 public:
  virtual ~PreviewStore() = default;

  // Keeps `bytes` under `token` (new and random) for `owner` until
  // `expires`, both in seconds since the epoch, as of `now`. The same write
  // sweeps: expired previews lose their bytes (their token answers
  // "expired" for kExpiredPreviewMemorySeconds, then goes), and of the
  // owner's live previews only the newest kPreviewsPerMachine - 1 stay beside
  // the new one (the older ones expire now). kOverQuota, storing nothing,
  // when the live previews would pass their room; the kOverAddress results
  // when `sender`'s would pass theirs. The bytes count in `sender`'s usage.
  // `compressed` is kept with the bytes, as StorePage keeps it.
  virtual PreviewStoreResult StorePreview(const MachineIdHash& owner, std::string_view token,
                                          std::string_view bytes, std::int64_t now,
                                          std::int64_t expires, const AddressBudget& sender,
                                          std::string_view compressed = {}) = 0;
  // std::nullopt when `token` names no preview (never stored, or forgotten).
  virtual std::optional<PreviewPage> LoadPreview(std::string_view token, std::int64_t now) = 0;
};

}  // namespace heartpage::server
