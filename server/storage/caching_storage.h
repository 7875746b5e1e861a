#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "server/storage/storage.h"

namespace heartpage::server {

// Keeps published pages in memory in front of an engine, so that reading a
// page costs no database round trip. Sound while this process is the database's one writer
// (SQLite: main() locks the data directory), or while the engine reports the
// other writers' changes (PostgreSQL); pages read while it cannot are not
// kept. Settings, claims and media it leaves to the engine (Serving).
class CachingStorage final : public PageStore, public PreviewStore, private PageChangeSink {
 public:
  // Pages larger than an eighth of `capacity_bytes` are never cached. At
  // most `max_files` cached pages are kept in in-memory files (a descriptor
  // each) for sending without a copy; the others, and small pages, are sent
  // from memory.
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
  std::shared_ptr<const StoredPage> LoadPage(std::string_view name) override;
  void KeepCompressed(std::string_view name, std::string_view etag,
                      std::string_view compressed) override;
  bool HasInMemory(std::string_view name) override;
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
  void PageChanged(std::string_view name) override;
  void AllPagesChanged() override;
  // Under the unique lock.
  void Forget(std::string_view name);

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
  std::unordered_map<std::string, std::shared_ptr<const StoredPage>, NameHash, std::equal_to<>>
      pages_;
  std::size_t cached_bytes_ = 0;
  std::size_t cached_files_ = 0;
  // Counts completed stores, ours and those reported; a page read from the
  // database is cached only if none completed meanwhile, so a stale page can
  // never be cached.
  std::uint64_t stores_ = 0;
};

}  // namespace heartpage::server
