#include "server/storage/caching_storage.h"

#include <mutex>

namespace heartpage::server {
namespace {

// What a cached page costs besides its bytes: its entry, name, validator and
// the bookkeeping of its file.
constexpr std::size_t kEntryCost = 1024;
constexpr std::size_t kFilePage = 4096;

// Memory a cached page takes: its bytes, compressed too, and again as many
// in its file, which the kernel keeps in whole pages.
std::size_t Footprint(const StoredPage& page) {
  const std::size_t size = page.bytes.size();
  return kEntryCost + size + page.compressed.size() +
         (page.file.valid() ? (size + kFilePage - 1) / kFilePage * kFilePage : 0);
}

}  // namespace

CachingStorage::CachingStorage(Storage& engine, std::size_t capacity_bytes, std::size_t max_files)
    : engine_(engine), capacity_(capacity_bytes), max_files_(max_files) {
  engine_.WatchPages(this);
}

CachingStorage::~CachingStorage() {
  engine_.WatchPages(nullptr);
}

void CachingStorage::Forget(std::string_view name) {
  ++stores_;
  if (const auto it = pages_.find(name); it != pages_.end()) {
    cached_bytes_ -= Footprint(*it->second);
    cached_files_ -= it->second->file.valid() ? 1 : 0;
    pages_.erase(it);
  }
}

StoreResult CachingStorage::StorePage(const MachineIdHash& owner, std::string_view name,
                                      std::string_view bytes, const AddressBudget& sender,
                                      const PageGate& gate) {
  const StoreResult result = engine_.StorePage(owner, name, bytes, sender, gate);
  std::unique_lock lock(mutex_);
  Forget(name);
  return result;
}

TakeDownResult CachingStorage::TakeDownPage(const MachineIdHash& owner, std::string_view name) {
  const TakeDownResult result = engine_.TakeDownPage(owner, name);
  std::unique_lock lock(mutex_);
  Forget(name);
  return result;
}

ReleaseResult CachingStorage::ReleaseName(const MachineIdHash& owner, std::string_view name) {
  const ReleaseResult result = engine_.ReleaseName(owner, name);
  std::unique_lock lock(mutex_);
  Forget(name);
  return result;
}

void CachingStorage::KeepCompressed(std::string_view name, std::string_view etag,
                                    std::string_view compressed) {
  engine_.KeepCompressed(name, etag, compressed);
  {
    std::unique_lock lock(mutex_);
    Forget(name);
  }
  // Read again to keep it: a page's first reader is the one that compresses
  // it, and whoever reads it next should find it in memory.
  LoadPage(name);
}

void CachingStorage::PageChanged(std::string_view name) {
  std::unique_lock lock(mutex_);
  Forget(name);
}

void CachingStorage::AllPagesChanged() {
  std::unique_lock lock(mutex_);
  ++stores_;
  pages_.clear();
  cached_bytes_ = 0;
  cached_files_ = 0;
}

bool CachingStorage::HasInMemory(std::string_view name) {
  std::shared_lock lock(mutex_);
  return pages_.contains(name);
}

std::shared_ptr<const StoredPage> CachingStorage::LoadPage(std::string_view name) {
  std::uint64_t stores_before;
  bool file_allowed;
  {
    std::shared_lock lock(mutex_);
    if (const auto it = pages_.find(name); it != pages_.end()) return it->second;
    stores_before = stores_;
    // Loads at the same moment may pass the limit by a few, never by more.
    file_allowed = cached_files_ < max_files_;
  }
  std::shared_ptr<const StoredPage> page = engine_.LoadPage(name);
  if (!page || page->compressed_unknown || page->bytes.size() > capacity_ / 8 ||
      !engine_.KeepingPagesIsSafe())
    return page;
  if (file_allowed && page->bytes.size() >= kSmallPage)
    page = std::make_shared<const StoredPage>(
        StoredPage{page->bytes, page->modified, page->etag, PageFile::Create(page->bytes),
                   page->compressed, page->withheld, page->gate});
  std::unique_lock lock(mutex_);
  if (stores_ != stores_before || !engine_.KeepingPagesIsSafe()) return page;
  // Crude but bounded: when full, start again from empty.
  if (cached_bytes_ + Footprint(*page) > capacity_) {
    pages_.clear();
    cached_bytes_ = 0;
    cached_files_ = 0;
  }
  if (pages_.emplace(std::string(name), page).second) {
    cached_bytes_ += Footprint(*page);
    cached_files_ += page->file.valid() ? 1 : 0;
  }
  return page;
}

}  // namespace heartpage::server
