#pragma once

#include <atomic>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "server/storage/storage.h"

namespace heartpage::server {

// Keeps published pages in memory in front of an engine, so that reading a
// page costs no database round trip. Sound while this process is the database's one writer
// (SQLite: main() locks the data directory), or while the engine reports the
// other writers' changes (PostgreSQL); pages read while it cannot are not
// kept. Settings, claims and media it leaves to the engine (Serving).
class CachingStorage final : public PageStore, public PreviewStore, private PageChangeSink {
 public:
  // Pages whose forms read take more than an eighth of `capacity_bytes`
  // are never cached. At most `max_files` cached pages are kept in in-memory
  // files (a descriptor each) for sending without a copy; the others, and
  // small pages, are sent from memory.
  CachingStorage(Storage& engine, std::size_t capacity_bytes, std::size_t max_files);
  ~CachingStorage() override;
  CachingStorage(const CachingStorage&) = delete;
  CachingStorage& operator=(const CachingStorage&) = delete;

  // Below this size a page is sent from memory and holds no descriptor:
  // copying it costs no more than sending it from a file (a 25 KB page costs
  // a tenth less CPU a request so).
  static constexpr std::size_t kSmallPage = 64 * 1024;

  // The pages and previews from here, the rest from the engine.
  Stores Serving() { return {engine_, *this, *this}; }

  StoreResult StorePage(const MachineIdHash& owner, std::string_view name, std::string_view bytes,
                        const AddressBudget& sender = {}, const PageGate& gate = {}) override;
  // Pages whose compressed bytes are unknown are not kept, so that whoever
  // reads one learns it from the database, on a storage thread.
  std::shared_ptr<const StoredPage> LoadPage(std::string_view name) override {
    return LoadForm(name, PageForm::kBoth);
  }
  // A page kept with one form gains the other when a reader of that one
  // comes: each form is read from the database at most once.
  std::shared_ptr<const StoredPage> LoadForm(std::string_view name, PageForm form) override;
  void KeepCompressed(std::string_view name, std::string_view etag,
                      std::string_view compressed) override;
  bool HasInMemory(std::string_view name) override {
    return HasFormInMemory(name, PageForm::kBoth);
  }
  bool HasFormInMemory(std::string_view name, PageForm form) override;
  TakeDownResult TakeDownPage(const MachineIdHash& owner, std::string_view name) override;
  bool WasTakenDown(std::string_view name) override { return engine_.WasTakenDown(name); }
  ReleaseResult ReleaseName(const MachineIdHash& owner, std::string_view name) override;

  // Previews expire, so each is read from the engine every time.
  PreviewStoreResult StorePreview(const MachineIdHash& owner, std::string_view token,
                                  std::string_view bytes, std::int64_t now, std::int64_t expires,
                                  const AddressBudget& sender,
                                  std::string_view compressed = {}) override {
    return engine_.StorePreview(owner, token, bytes, now, expires, sender, compressed);
  }
  std::optional<PreviewPage> LoadPreview(std::string_view token, std::int64_t now) override {
    return engine_.LoadPreview(token, now);
  }

 private:
  // A cached page and where it stands in its queue. New pages enter the
  // small queue; only one read again while there moves to the main one, so
  // a scan of pages read once passes through the small queue and never
  // reaches what is read often. The main queue gives each page read since it
  // last came round another turn instead of evicting it.
  struct Entry {
    std::shared_ptr<const StoredPage> page;
    std::size_t footprint = 0;
    // Reads since it entered or last came round, at most kMaxHits; counted
    // under the shared lock.
    std::atomic<std::uint8_t> hits{0};
    bool in_main = false;
    std::list<const std::string*>::iterator at;
  };
  static constexpr std::uint8_t kMaxHits = 3;

  void PageChanged(std::string_view name) override;
  void AllPagesChanged() override;
  // Under the unique lock.
  void Forget(std::string_view name);
  void Drop(std::unordered_map<std::string, Entry>::iterator it);
  void Admit(std::string_view name, std::shared_ptr<const StoredPage> page);
  // Until the pages fit in the memory given.
  void Evict();
  void EvictFromSmall();
  void EvictFromMain();
  void RememberEvicted(std::size_t hash);
  bool WasEvictedLately(std::string_view name);

  class Changing;

  Storage& engine_;
  const std::size_t capacity_;
  const std::size_t max_files_;
  std::shared_mutex mutex_;
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>{}(name);
    }
  };
  std::unordered_map<std::string, Entry, NameHash, std::equal_to<>> pages_;
  // Newest first; each names the key of its entry in pages_, whose nodes
  // stay where they are.
  std::list<const std::string*> small_;
  std::list<const std::string*> main_;
  std::size_t small_bytes_ = 0;
  std::size_t cached_bytes_ = 0;  // with the evicted names' memory
  std::size_t cached_files_ = 0;
  // The hashes of names lately evicted from the small queue, oldest first:
  // one read again soon after goes to the main queue at once. A collision
  // only does that for another page.
  std::deque<std::size_t> evicted_order_;
  std::unordered_map<std::size_t, unsigned> evicted_;
  // Counts completed stores, ours and those reported; a page read from the
  // database is cached only if none completed meanwhile, so a stale page can
  // never be cached.
  std::uint64_t stores_ = 0;
  // Let go under the unique lock, freed after it (Changing).
  std::vector<std::shared_ptr<const StoredPage>> dropped_;
};

}  // namespace heartpage::server
