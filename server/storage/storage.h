#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/machine_id_hash.h"
#include "server/storage/page_file.h"

// Everything the server keeps: the settings row, the name claims and the
// published pages. Implementations must be safe to call from several threads
// at once and, for a database shared by several server processes, from several
// processes: uniqueness of names and atomicity of stores are the database's
// job, not the caller's.
//
// Names arrive in small letters (PageNameKey), so that one name has one
// owner however it is typed. Machines are known only by the hash of their
// identifier (HashMachineId), never by the identifier itself.
namespace heartpage::server {

struct StorageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The database stayed locked by another writer for longer than a request may
// wait: nothing changed, and asking again shortly may well succeed.
struct StorageBusy : StorageError {
  using StorageError::StorageError;
};

struct Claim {
  MachineIdHash owner;
  std::string name;
  std::string claimed_at;  // UTC, "YYYY-MM-DD HH:MM:SS"
};

struct StoredPage {
  std::string bytes;
  std::int64_t modified = 0;  // seconds since the epoch
  std::string etag;           // quoted, ready for the header
  PageFile file;              // the same bytes, when a cache made them a file
  std::string gzip{};         // the same bytes gzip-compressed, when a cache made them so
};

// Settings the operator chose; an empty field means "use the default",
// which depends on the address the server is reached at.
struct SiteSettings {
  std::optional<std::string> announcement;
  std::optional<std::string> version_label;
  std::optional<std::string> download_url;
};

enum class ClaimResult { kClaimed, kTaken };

// The validator a page's answers carry: every store gives the same bytes the
// same one, so that processes sharing a database agree on it.
inline std::string PageEtag(std::string_view bytes) {
  char text[40];
  std::snprintf(text, sizeof text, "\"%zx-%zx\"", bytes.size(),
                std::hash<std::string_view>{}(bytes));
  return text;
}

// Told of pages changed by other processes sharing the database, so that
// what a process keeps in memory never outlives an acknowledged store.
class PageChangeSink {
 public:
  virtual ~PageChangeSink() = default;
  virtual void PageChanged(std::string_view name) = 0;
  // Changes may have gone unseen (the link that reports them broke).
  virtual void AllPagesChanged() = 0;
};
enum class StoreResult { kStored, kUnclaimed, kNotOwner, kOverQuota };
enum class TakeDownResult { kTakenDown, kUnclaimed, kNotOwner };
enum class ReleaseResult { kReleased, kUnclaimed, kNotOwner };

// A file of the sender's own (picture, music, video), kept under the hex
// SHA-256 of its bytes plus an extension of its detected type, so one file
// is kept once however often it is sent.
struct MediaFacts {
  std::string name;          // "<64 hex>.<ext>"
  std::string content_type;  // as served
  std::uint64_t size = 0;
};
enum class MediaStoreResult { kStored, kOverOwnerQuota, kOverQuota };
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

// A temporary preview as a visitor finds it: live (with its page), or
// expired, which its token still says for a while after.
struct PreviewPage {
  bool expired = false;
  std::shared_ptr<const StoredPage> page;  // null when expired
};
enum class PreviewStoreResult { kStored, kOverQuota };

// The bounds of temporary previews, which both engines keep alike.
// Live previews a machine may have; a new one ends the oldest.
inline constexpr int kPreviewsPerMachine = 3;
// How long an expired token still answers "expired" before it is forgotten.
inline constexpr std::int64_t kExpiredPreviewMemorySeconds = 24 * 60 * 60;
// Previews have room of their own beside the pages: this share of the page
// limit, so that a flood of them cannot keep anyone from publishing.
inline constexpr std::uint64_t kPreviewShareOfPageLimit = 8;

class Storage {
 public:
  virtual ~Storage() = default;

  virtual SiteSettings LoadSettings() = 0;
  // Changes only the fields that `changes` holds.
  virtual void UpdateSettings(const SiteSettings& changes) = 0;

  // The identifier as this store knows it, under the store's own key.
  virtual MachineIdHash HashMachineId(std::string_view machine_id) = 0;

  // Rows in the order they were claimed.
  virtual std::vector<Claim> ClaimsOfMachine(const MachineIdHash& owner) = 0;
  virtual std::vector<Claim> ClaimsOfName(std::string_view name) = 0;
  // Of any number of concurrent claims of one name exactly one succeeds.
  virtual ClaimResult ClaimName(const MachineIdHash& owner, std::string_view name) = 0;

  // Replaces the page atomically and durably when `name` is claimed by
  // `owner`: once this returns kStored the page survives a crash of the
  // process, and a reader never sees a mix of the old and the new bytes.
  // Otherwise nothing changes.
  virtual StoreResult StorePage(const MachineIdHash& owner, std::string_view name,
                                std::string_view bytes) = 0;
  // Null when there is no such page.
  virtual std::shared_ptr<const StoredPage> LoadPage(std::string_view name) = 0;
  // Whether LoadPage(name) would answer from memory, without waiting on the
  // database.
  virtual bool HasInMemory(std::string_view /*name*/) { return false; }

  // For a database that other processes write too. `sink` (null: nobody) is
  // told of their changes, from a thread of the store's, before those
  // changes are acknowledged to whoever made them.
  virtual void WatchPages(PageChangeSink* /*sink*/) {}
  // Whether a page read now may be kept: true while every later change will
  // be reported, or while this process is the database's only writer.
  virtual bool KeepingPagesIsSafe() { return true; }

  // Keeps `bytes` under `token` (new and random) for `owner` until
  // `expires`, both in seconds since the epoch, as of `now`. The same write
  // sweeps: expired previews lose their bytes (their token answers
  // "expired" for kExpiredPreviewMemorySeconds, then goes), and of the
  // owner's live previews only the newest kPreviewsPerMachine - 1 stay beside
  // the new one (the older ones expire now). kOverQuota, storing nothing,
  // when the live previews would pass their room. Previews are never kept in
  // memory: no process can serve one that has expired or ended.
  // The defaults are for stand-ins that have no previews.
  virtual PreviewStoreResult StorePreview(const MachineIdHash& /*owner*/,
                                          std::string_view /*token*/, std::string_view /*bytes*/,
                                          std::int64_t /*now*/, std::int64_t /*expires*/) {
    throw StorageError("this storage keeps no previews");
  }
  // std::nullopt when `token` names no preview (never stored, or forgotten).
  virtual std::optional<PreviewPage> LoadPreview(std::string_view /*token*/, std::int64_t /*now*/) {
    return std::nullopt;
  }

  // Takes the published page of `name` down when `owner` claims it: the page
  // and its bytes go, the claim stays, and WasTakenDown(name) holds until the
  // page is stored again. Taking down a page that is already gone succeeds.
  virtual TakeDownResult TakeDownPage(const MachineIdHash& /*owner*/, std::string_view /*name*/) {
    throw StorageError("taking pages down is not supported here");
  }
  virtual bool WasTakenDown(std::string_view /*name*/) { return false; }

  // Gives up the claim of `name` when `owner` holds it: the claim, the page
  // and the record of its taking down go together, so the name answers as
  // never published and anyone may claim it.
  virtual ReleaseResult ReleaseName(const MachineIdHash& /*owner*/, std::string_view /*name*/) {
    throw StorageError("releasing names is not supported here");
  }

  // Stores a file that `owner` sent, `facts.size` bytes read from `read`
  // (not read at all when the bytes are kept already). Everything `owner`
  // sent, this file included, may take at most `owner_quota` bytes; new
  // bytes count against the site's storage limit too. Atomic: a failure
  // leaves nothing of the file behind.
  virtual MediaStoreResult StoreMedia(const MachineIdHash& /*owner*/, const MediaFacts& /*facts*/,
                                      const MediaReader& /*read*/, std::uint64_t /*owner_quota*/) {
    throw StorageError("media are not supported here");
  }
  virtual std::optional<MediaFacts> FindMedia(std::string_view /*name*/) { return std::nullopt; }
  // Hands bytes [offset, offset + length) of a stored file to `take`, a
  // chunk at a time, reading only the chunks that hold them.
  virtual void ReadMedia(std::string_view /*name*/, std::uint64_t /*offset*/,
                         std::uint64_t /*length*/,
                         const std::function<void(std::string_view)>& /*take*/) {}
  // Forgets each upload made before `uploaded_before` (seconds since the
  // epoch) whose file no stored page of its uploader names, and removes the
  // files no upload is left of. Answers the names of the files removed.
  virtual std::vector<std::string> SweepMedia(std::int64_t /*uploaded_before*/) { return {}; }
};

}  // namespace heartpage::server
