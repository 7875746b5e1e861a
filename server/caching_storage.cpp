#include "server/caching_storage.h"

#include <mutex>

namespace heartpage::server {
namespace {

// Memory a cached page takes: its bytes, and again as many in its file.
std::size_t Footprint(const StoredPage& page) {
  return page.bytes.size() * (page.file.valid() ? 2 : 1);
}

}  // namespace

CachingStorage::CachingStorage(Storage& backing, std::size_t capacity_bytes)
    : backing_(backing), capacity_(capacity_bytes) {}

StoreResult CachingStorage::StorePage(const MachineIdHash& owner, std::string_view name,
                                      std::string_view bytes) {
  const StoreResult result = backing_.StorePage(owner, name, bytes);
  std::unique_lock lock(mutex_);
  ++stores_;
  if (const auto it = pages_.find(name); it != pages_.end()) {
    cached_bytes_ -= Footprint(*it->second);
    pages_.erase(it);
  }
  return result;
}

std::shared_ptr<const StoredPage> CachingStorage::LoadPage(std::string_view name) {
  std::uint64_t stores_before;
  {
    std::shared_lock lock(mutex_);
    if (const auto it = pages_.find(name); it != pages_.end()) return it->second;
    stores_before = stores_;
  }
  std::shared_ptr<const StoredPage> page = backing_.LoadPage(name);
  if (!page || page->bytes.size() > capacity_ / 8) return page;
  page = std::make_shared<const StoredPage>(
      StoredPage{page->bytes, page->modified, page->etag, PageFile::Create(page->bytes)});
  std::unique_lock lock(mutex_);
  if (stores_ != stores_before) return page;
  // Crude but bounded: when full, start again from empty.
  if (cached_bytes_ + Footprint(*page) > capacity_) {
    pages_.clear();
    cached_bytes_ = 0;
  }
  if (pages_.emplace(std::string(name), page).second) cached_bytes_ += Footprint(*page);
  return page;
}

}  // namespace heartpage::server
