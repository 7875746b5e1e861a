#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "server/storage/machine_id_hash.h"
#include "server/storage/storage.h"
#include "tests/support/fake_storage.h"

namespace heartpage::fuzz {

// Storage in memory, deterministic (times count up from a fixed second), with
// a snapshot of everything it holds so that a fuzz target can tell whether a
// request changed anything; the routing tests make it fail.
class MemoryStorage : public FakeStorage {
 public:
  // `files`: pages also get a file, as the page cache gives them, so that
  // answers take the zero-copy path.
  explicit MemoryStorage(bool files = false) : files_(files) {}

  struct Snapshot {
    std::vector<std::tuple<std::string, std::string, std::string>> claims;
    std::map<std::string, std::string> pages;
    std::map<std::string, std::string> previews;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Contents() const {
    Snapshot snapshot;
    for (const server::Claim& claim : claims_)
      snapshot.claims.emplace_back(claim.owner.hex(), claim.name, claim.claimed_at);
    for (const auto& [name, page] : pages_) snapshot.pages.emplace(name, page->bytes);
    for (const auto& [token, preview] : previews_)
      snapshot.previews.emplace(token, preview.page->bytes);
    return snapshot;
  }

  // Back to empty, as if just made.
  void Clear() {
    settings_ = {};
    claims_.clear();
    pages_.clear();
    previews_.clear();
    stores_ = 0;
  }

  server::SiteSettings LoadSettings() override { return settings_; }
  void UpdateSettings(const server::SiteSettings& changes) override {
    if (changes.announcement) settings_.announcement = changes.announcement;
    if (changes.version_label) settings_.version_label = changes.version_label;
    if (changes.download_url) settings_.download_url = changes.download_url;
  }
  server::MachineIdHash HashMachineId(std::string_view machine_id) override {
    return hasher_(machine_id);
  }
  std::vector<server::Claim> ClaimsOfMachine(const server::MachineIdHash& owner) override {
    std::vector<server::Claim> found;
    for (const server::Claim& claim : claims_)
      if (claim.owner == owner) found.push_back(claim);
    return found;
  }
  std::vector<server::Claim> ClaimsOfName(std::string_view name) override {
    std::vector<server::Claim> found;
    for (const server::Claim& claim : claims_)
      if (claim.name == name) found.push_back(claim);
    return found;
  }
  server::ClaimResult ClaimName(const server::MachineIdHash& owner,
                                std::string_view name) override {
    if (!ClaimsOfName(name).empty()) return server::ClaimResult::kTaken;
    claims_.push_back({owner, std::string(name), "2026-01-01 00:00:00"});
    return server::ClaimResult::kClaimed;
  }
  server::StoreResult StorePage(const server::MachineIdHash& owner, std::string_view name,
                                std::string_view bytes,
                                const server::AddressBudget& /*sender*/ = {},
                                const server::PageGate& gate = {}) override {
    const std::vector<server::Claim> claims = ClaimsOfName(name);
    if (claims.empty()) return server::StoreResult::kUnclaimed;
    if (!(claims.front().owner == owner)) return server::StoreResult::kNotOwner;
    auto page = std::make_shared<server::StoredPage>();
    page->bytes = bytes;
    page->compressed_unknown = true;
    page->modified = 1'700'000'000 + static_cast<std::int64_t>(++stores_);
    page->etag = "\"" + std::to_string(stores_) + "\"";
    if (files_) page->file = server::PageFile::Create(bytes);
    page->gate = gate;
    pages_[std::string(name)] = std::move(page);
    return server::StoreResult::kStored;
  }
  void KeepCompressed(std::string_view name, std::string_view etag,
                      std::string_view compressed) override {
    const auto it = pages_.find(std::string(name));
    if (it == pages_.end() || it->second->etag != etag || !it->second->compressed_unknown) return;
    const server::StoredPage& was = *it->second;
    it->second = std::make_shared<const server::StoredPage>(
        server::StoredPage{was.bytes, was.modified, was.etag,
                           files_ ? server::PageFile::Create(was.bytes) : server::PageFile{},
                           std::string(compressed), was.withheld, was.gate});
  }
  std::shared_ptr<const server::StoredPage> LoadPage(std::string_view name) override {
    const auto it = pages_.find(std::string(name));
    return it == pages_.end() ? nullptr : it->second;
  }
  server::ReleaseResult ReleaseName(const server::MachineIdHash& owner,
                                    std::string_view name) override {
    const auto claim = std::ranges::find(claims_, name, &server::Claim::name);
    if (claim == claims_.end()) return server::ReleaseResult::kUnclaimed;
    if (!(claim->owner == owner)) return server::ReleaseResult::kNotOwner;
    claims_.erase(claim);
    pages_.erase(std::string(name));
    return server::ReleaseResult::kReleased;
  }

  // Kept whole, without the sweeps and bounds of the real engines (their
  // own tests prove those).
  server::PreviewStoreResult StorePreview(const server::MachineIdHash& owner,
                                          std::string_view token, std::string_view bytes,
                                          std::int64_t now, std::int64_t expires,
                                          const server::AddressBudget& /*sender*/,
                                          std::string_view compressed = {}) override {
    auto page = std::make_shared<server::StoredPage>();
    page->bytes = bytes;
    page->compressed = compressed;
    page->modified = now;
    page->etag = server::PageEtag(bytes);
    previews_[std::string(token)] = {owner, std::move(page), expires};
    return server::PreviewStoreResult::kStored;
  }
  std::optional<server::PreviewPage> LoadPreview(std::string_view token,
                                                 std::int64_t now) override {
    const auto it = previews_.find(std::string(token));
    if (it == previews_.end()) return std::nullopt;
    if (it->second.expires <= now) return server::PreviewPage{true, nullptr};
    return server::PreviewPage{false, it->second.page};
  }

 private:
  struct Preview {
    server::MachineIdHash owner;
    std::shared_ptr<const server::StoredPage> page;
    std::int64_t expires = 0;
  };
  const bool files_;
  server::MachineIdHasher hasher_{std::string(server::MachineIdHasher::kKeyBytes, 'k')};
  server::SiteSettings settings_;
  std::vector<server::Claim> claims_;
  std::map<std::string, std::shared_ptr<const server::StoredPage>> pages_;
  std::map<std::string, Preview> previews_;
  std::uint64_t stores_ = 0;
};

}  // namespace heartpage::fuzz
