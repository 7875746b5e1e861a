#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/address_usage.h"
#include "server/storage/machine_id_hash.h"
#include "server/storage/storage_error.h"

namespace heartpage::server {

// A file of the sender's own (picture, music, video), kept under the hex
// SHA-256 of its bytes plus an extension of its detected type, so one file
// is kept once however often it is sent.
struct MediaFacts {
  std::string name;          // "<64 hex>.<ext>"
  std::string content_type;  // as served
  std::uint64_t size = 0;
};
// kOverAddressDaily: the sender's address used its AddressBudget::daily;
// kOverAddressShare: its files of the last kAddressUsageDays days would pass
// its share of the media's room.
enum class MediaStoreResult {
  kStored,
  kOverOwnerQuota,
  kOverQuota,
  kOverAddressDaily,
  kOverAddressShare
};
// Fills `buffer` with the next bytes of a file being stored; 0 at its end.
using MediaReader = std::function<std::size_t(char* buffer, std::size_t size)>;
// Media are kept and read in pieces of this size, so that neither storing
// nor serving a large file holds more than this of it in memory.
inline constexpr std::size_t kMediaChunk = 256 * 1024;

// Reads the `size` bytes of a file being stored from `read` and hands them to
// `put` a chunk at a time, numbered from 0: every chunk kMediaChunk long but
// the last. Throws StorageError when `read` ends early, so that the caller's
// transaction keeps nothing of the file.
inline void ForEachMediaChunk(const MediaReader& read, std::uint64_t size,
                              const std::function<void(std::int64_t, std::string_view)>& put) {
  std::vector<char> chunk(kMediaChunk);
  std::uint64_t stored = 0;
  for (std::int64_t index = 0; stored < size; ++index) {
    std::size_t filled = 0;
    while (filled < chunk.size() && stored + filled < size) {
      const std::size_t got = read(chunk.data() + filled, chunk.size() - filled);
      if (got == 0) break;
      filled += got;
    }
    if (filled == 0) throw StorageError("media file ended early");
    put(index, std::string_view(chunk.data(), filled));
    stored += filled;
  }
}

// The files senders' pages show.
class MediaStore {
 public:
  virtual ~MediaStore() = default;

  // Stores a file that `owner` sent, `facts.size` bytes read from `read`
  // (not read at all when the bytes are kept already). Everything `owner`
  // sent, this file included, may take at most `owner_quota` bytes; new
  // bytes count against the site's storage limit (all but the pages'
  // reserve of it) and against `sender`'s budgets, and are added to its
  // usage. Atomic: a failure leaves nothing of the file behind.
  virtual MediaStoreResult StoreMedia(const MachineIdHash& owner, const MediaFacts& facts,
                                      const MediaReader& read, std::uint64_t owner_quota,
                                      const AddressBudget& sender) = 0;
  virtual std::optional<MediaFacts> FindMedia(std::string_view name) = 0;
  // Hands bytes [offset, offset + length) of a stored file to `take`, a
  // chunk at a time, reading only the chunks that hold them.
  virtual void ReadMedia(std::string_view name, std::uint64_t offset, std::uint64_t length,
                         const std::function<void(std::string_view)>& take) = 0;
  // Forgets each upload made before `uploaded_before` (seconds since the
  // epoch) whose file no stored page of its uploader names, and removes the
  // files no upload is left of, and the usage of addresses older than
  // kAddressUsageDays. Answers the names of the files removed.
  virtual std::vector<std::string> SweepMedia(std::int64_t uploaded_before) = 0;
};

}  // namespace heartpage::server
