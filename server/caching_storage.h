#pragma once

#include <memory>
#include <shared_mutex>
#include <string>
#include <unordered_map>

#include "server/storage.h"

namespace heartpage::server {

// Keeps published pages in memory in front of another storage, so that
// reading a page costs no database round trip. Sound only while this process
// is the database's one writer (main() makes sure of that with a lock on the
// data directory); servers sharing one database run without it.
class CachingStorage final : public Storage {
 public:
  // Pages larger than an eighth of `capacity_bytes` are never cached.
  CachingStorage(Storage& backing, std::size_t capacity_bytes);

  SiteSettings LoadSettings() override { return backing_.LoadSettings(); }
  void UpdateSettings(const SiteSettings& changes) override { backing_.UpdateSettings(changes); }
  MachineIdHash HashMachineId(std::string_view machine_id) override {
    return backing_.HashMachineId(machine_id);
  }
  std::vector<Claim> ClaimsOfMachine(const MachineIdHash& owner) override {
    return backing_.ClaimsOfMachine(owner);
  }
  std::vector<Claim> ClaimsOfName(std::string_view name) override {
    return backing_.ClaimsOfName(name);
  }
  ClaimResult ClaimName(const MachineIdHash& owner, std::string_view name) override {
    return backing_.ClaimName(owner, name);
  }
  StoreResult StorePage(const MachineIdHash& owner, std::string_view name,
                        std::string_view bytes) override;
  std::shared_ptr<const StoredPage> LoadPage(std::string_view name) override;

 private:
  Storage& backing_;
  const std::size_t capacity_;
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
  // Counts completed stores; a page read from the database is cached only if
  // no store completed meanwhile, so a stale page can never be cached.
  std::uint64_t stores_ = 0;
};

}  // namespace heartpage::server
