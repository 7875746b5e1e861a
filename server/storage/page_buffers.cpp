#include "server/storage/page_buffers.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace heartpage::server {
namespace {

struct Kept {
  std::mutex mutex;
  std::vector<std::string> blocks;
  std::size_t bytes = 0;
};

Kept& Buffers() {
  static Kept* kept = new Kept;  // never destroyed: pages may go after main()
  return *kept;
}

void GiveBack(std::string&& block) {
  if (block.capacity() < PageBuffers::kLarge || block.capacity() > PageBuffers::kKept) return;
  std::vector<std::string> gone;  // freed outside the lock
  Kept& kept = Buffers();
  std::lock_guard lock(kept.mutex);
  kept.blocks.push_back(std::move(block));
  kept.bytes += kept.blocks.back().capacity();
  // The oldest go first: what is read now is the likelier to be read again.
  while (kept.bytes > PageBuffers::kKept) {
    kept.bytes -= kept.blocks.front().capacity();
    gone.push_back(std::move(kept.blocks.front()));
    kept.blocks.erase(kept.blocks.begin());
  }
}

}  // namespace

std::shared_ptr<StoredPage> PageBuffers::NewPage() {
  return std::shared_ptr<StoredPage>(new StoredPage, [](StoredPage* page) {
    GiveBack(std::move(page->bytes));
    GiveBack(std::move(page->compressed));
    delete page;
  });
}

void PageBuffers::Fill(std::string& into, std::string_view bytes) {
  if (bytes.size() >= kLarge) {
    Kept& kept = Buffers();
    std::lock_guard lock(kept.mutex);
    // The smallest that holds them, unless it would waste more than it holds.
    auto best = kept.blocks.end();
    for (auto it = kept.blocks.begin(); it != kept.blocks.end(); ++it)
      if (it->capacity() >= bytes.size() && it->capacity() <= 2 * bytes.size() &&
          (best == kept.blocks.end() || it->capacity() < best->capacity()))
        best = it;
    if (best != kept.blocks.end()) {
      kept.bytes -= best->capacity();
      into = std::move(*best);
      kept.blocks.erase(best);
    }
  }
  into.assign(bytes);
}

}  // namespace heartpage::server
