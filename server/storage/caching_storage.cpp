#include "server/storage/caching_storage.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace heartpage::server {
namespace {

// What a cached page costs besides its bytes: its entry, name, validator and
// the bookkeeping of its file.
constexpr std::size_t kEntryCost = 1024;
constexpr std::size_t kFilePage = 4096;
// What remembering an evicted name costs: its hash, in the queue and in the
// set.
constexpr std::size_t kEvictedCost = 64;
// The small queue's share of the memory, as the policy's authors found best.
constexpr std::size_t kSmallShare = 10;

// Memory a cached page takes: its bytes, compressed too, and again as many
// in its file, which the kernel keeps in whole pages.
std::size_t Footprint(const StoredPage& page) {
  const std::size_t size = page.bytes.size();
  return kEntryCost + size + page.compressed.size() +
         (page.file.valid() ? (size + kFilePage - 1) / kFilePage * kFilePage : 0);
}

}  // namespace

// The unique lock, and the pages let go under it freed once it is released:
// freeing a page's memory and closing its file keep no reader waiting.
class CachingStorage::Changing {
 public:
  explicit Changing(CachingStorage& cache) : cache_(cache), lock_(cache.mutex_) {}
  ~Changing() {
    thread_local std::vector<std::shared_ptr<const StoredPage>> gone;
    gone.swap(cache_.dropped_);
    lock_.unlock();
    gone.clear();
  }
  Changing(const Changing&) = delete;
  Changing& operator=(const Changing&) = delete;

 private:
  CachingStorage& cache_;
  std::unique_lock<std::shared_mutex> lock_;
};

CachingStorage::CachingStorage(Storage& engine, std::size_t capacity_bytes, std::size_t max_files)
    : engine_(engine), capacity_(capacity_bytes), max_files_(max_files) {
  engine_.WatchPages(this);
}

CachingStorage::~CachingStorage() {
  engine_.WatchPages(nullptr);
}

void CachingStorage::Drop(std::unordered_map<std::string, Entry>::iterator it) {
  Entry& entry = it->second;
  cached_bytes_ -= entry.footprint;
  cached_files_ -= entry.page->file.valid() ? 1 : 0;
  dropped_.push_back(std::move(entry.page));
  if (entry.in_main) {
    main_.erase(entry.at);
  } else {
    small_bytes_ -= entry.footprint;
    small_.erase(entry.at);
  }
  pages_.erase(it);
}

void CachingStorage::Forget(std::string_view name) {
  ++stores_;
  if (const auto it = pages_.find(name); it != pages_.end()) Drop(it);
}

void CachingStorage::RememberEvicted(std::size_t hash) {
  evicted_order_.push_back(hash);
  ++evicted_[hash];
  cached_bytes_ += kEvictedCost;
  // As many names as pages kept: enough to know a page read again within
  // about the time the cache keeps one.
  while (evicted_order_.size() > std::max<std::size_t>(pages_.size(), 64)) {
    const auto oldest = evicted_.find(evicted_order_.front());
    if (--oldest->second == 0) evicted_.erase(oldest);
    evicted_order_.pop_front();
    cached_bytes_ -= kEvictedCost;
  }
}

bool CachingStorage::WasEvictedLately(std::string_view name) {
  return evicted_.contains(NameHash{}(name));
}

void CachingStorage::EvictFromSmall() {
  const std::string* name = small_.back();
  const auto it = pages_.find(*name);
  Entry& entry = it->second;
  if (entry.hits.load(std::memory_order_relaxed) > 0) {
    small_.pop_back();
    small_bytes_ -= entry.footprint;
    entry.in_main = true;
    entry.hits.store(0, std::memory_order_relaxed);
    main_.push_front(name);
    entry.at = main_.begin();
    return;
  }
  const std::size_t hash = NameHash{}(*name);
  Drop(it);
  RememberEvicted(hash);
}

void CachingStorage::EvictFromMain() {
  const std::string* name = main_.back();
  const auto it = pages_.find(*name);
  Entry& entry = it->second;
  if (const std::uint8_t hits = entry.hits.load(std::memory_order_relaxed); hits > 0) {
    entry.hits.store(hits - 1, std::memory_order_relaxed);
    main_.splice(main_.begin(), main_, entry.at);
    return;
  }
  Drop(it);
}

void CachingStorage::Admit(std::string_view name, std::shared_ptr<const StoredPage> page) {
  const auto [it, added] = pages_.try_emplace(std::string(name));
  Entry& entry = it->second;
  if (!added) {
    // Kept meanwhile by another reader: the one holding both forms stays,
    // where it stands and with its reads.
    if (HoldsForm(*entry.page, PageForm::kBoth) || !HoldsForm(*page, PageForm::kBoth)) return;
    cached_bytes_ -= entry.footprint;
    if (!entry.in_main) small_bytes_ -= entry.footprint;
    cached_files_ -= entry.page->file.valid() ? 1 : 0;
    dropped_.push_back(std::move(entry.page));
    entry.footprint = Footprint(*page);
    cached_files_ += page->file.valid() ? 1 : 0;
    entry.page = std::move(page);
    cached_bytes_ += entry.footprint;
    if (!entry.in_main) small_bytes_ += entry.footprint;
    Evict();
    return;
  }
  entry.footprint = Footprint(*page);
  cached_files_ += page->file.valid() ? 1 : 0;
  entry.page = std::move(page);
  cached_bytes_ += entry.footprint;
  if (WasEvictedLately(name)) {
    entry.in_main = true;
    main_.push_front(&it->first);
    entry.at = main_.begin();
  } else {
    small_bytes_ += entry.footprint;
    small_.push_front(&it->first);
    entry.at = small_.begin();
  }
  Evict();
}

void CachingStorage::Evict() {
  // Each turn either frees memory or moves a page on having taken one of its
  // reads, so this ends.
  while (cached_bytes_ > capacity_ && !pages_.empty()) {
    if (!small_.empty() && (main_.empty() || small_bytes_ > capacity_ / kSmallShare))
      EvictFromSmall();
    else
      EvictFromMain();
  }
}

StoreResult CachingStorage::StorePage(const MachineIdHash& owner, std::string_view name,
                                      std::string_view bytes, const AddressBudget& sender,
                                      const PageGate& gate) {
  const StoreResult result = engine_.StorePage(owner, name, bytes, sender, gate);
  Changing lock(*this);
  Forget(name);
  return result;
}

TakeDownResult CachingStorage::TakeDownPage(const MachineIdHash& owner, std::string_view name) {
  const TakeDownResult result = engine_.TakeDownPage(owner, name);
  Changing lock(*this);
  Forget(name);
  return result;
}

ReleaseResult CachingStorage::ReleaseName(const MachineIdHash& owner, std::string_view name) {
  const ReleaseResult result = engine_.ReleaseName(owner, name);
  Changing lock(*this);
  Forget(name);
  return result;
}

void CachingStorage::KeepCompressed(std::string_view name, std::string_view etag,
                                    std::string_view compressed) {
  engine_.KeepCompressed(name, etag, compressed);
  {
    Changing lock(*this);
    Forget(name);
  }
  // Read again to keep it: a page's first reader is the one that compresses
  // it, and whoever reads it next should find it in memory.
  LoadPage(name);
}

void CachingStorage::PageChanged(std::string_view name) {
  Changing lock(*this);
  Forget(name);
}

void CachingStorage::AllPagesChanged() {
  Changing lock(*this);
  ++stores_;
  for (auto& [name, entry] : pages_) dropped_.push_back(std::move(entry.page));
  pages_.clear();
  small_.clear();
  main_.clear();
  evicted_order_.clear();
  evicted_.clear();
  small_bytes_ = 0;
  cached_bytes_ = 0;
  cached_files_ = 0;
}

bool CachingStorage::HasFormInMemory(std::string_view name, PageForm form) {
  std::shared_lock lock(mutex_);
  const auto it = pages_.find(name);
  return it != pages_.end() && HoldsForm(*it->second.page, form);
}

std::shared_ptr<const StoredPage> CachingStorage::LoadForm(std::string_view name, PageForm form) {
  std::uint64_t stores_before;
  bool file_allowed;
  // The page as kept with its other form, which the one read joins.
  std::shared_ptr<const StoredPage> kept;
  {
    std::shared_lock lock(mutex_);
    if (const auto it = pages_.find(name); it != pages_.end()) {
      if (HoldsForm(*it->second.page, form)) {
        std::atomic<std::uint8_t>& hits = it->second.hits;
        if (hits.load(std::memory_order_relaxed) < kMaxHits)
          hits.fetch_add(1, std::memory_order_relaxed);
        return it->second.page;
      }
      kept = it->second.page;
    }
    stores_before = stores_;
    // Loads at the same moment may pass the limit by a few, never by more.
    file_allowed = cached_files_ < max_files_;
  }
  std::shared_ptr<const StoredPage> page = engine_.LoadForm(name, form);
  if (!page || page->compressed_unknown ||
      page->bytes.size() + page->compressed.size() > capacity_ / 8 || !engine_.MayKeepPages())
    return page;
  // A store since the other form was kept makes it another page's.
  if (kept && (kept->etag != page->etag || kept->modified != page->modified ||
               kept->gate != page->gate || kept->withheld != page->withheld))
    kept = nullptr;
  const bool plain_known = !page->plain_left_out || (kept && !kept->plain_left_out);
  const std::string& plain = page->plain_left_out && kept ? kept->bytes : page->bytes;
  const bool with_file = file_allowed && plain_known && plain.size() >= kSmallPage;
  if (kept || with_file) {
    StoredPage joined;
    joined.bytes = plain;
    joined.modified = page->modified;
    joined.etag = page->etag;
    joined.compressed = page->compressed_left_out && kept ? kept->compressed : page->compressed;
    joined.withheld = page->withheld;
    joined.gate = page->gate;
    joined.plain_left_out = !plain_known;
    joined.compressed_left_out = page->compressed_left_out && (!kept || kept->compressed_left_out);
    if (with_file) joined.file = PageFile::Create(joined.bytes);
    page = std::make_shared<const StoredPage>(std::move(joined));
  }
  Changing lock(*this);
  if (stores_ != stores_before || !engine_.MayKeepPages()) return page;
  Admit(name, page);
  return page;
}

}  // namespace heartpage::server
