#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace heartpage::server {

// Large blocks of memory freed by one read and wanted again by the next, at
// most `limit` bytes of them. The allocator gives a block this large back to
// the system when it is freed, and a fresh one faults in a page at a time,
// which costs ten times copying into it. `SizeOf()(block)` is a block's size.
template <typename Block, typename SizeOf>
class KeptBlocks {
 public:
  explicit KeptBlocks(std::size_t limit) : limit_(limit) {}

  // The smallest kept block of at least `size` bytes, unless it would waste
  // more than it holds.
  std::optional<Block> Take(std::size_t size) {
    std::lock_guard lock(mutex_);
    auto best = blocks_.end();
    std::size_t best_size = 0;
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
      const std::size_t have = SizeOf()(*it);
      if (have >= size && have <= 2 * size && (best_size == 0 || have < best_size)) {
        best = it;
        best_size = have;
      }
    }
    if (best == blocks_.end()) return std::nullopt;
    Block block = std::move(*best);
    blocks_.erase(best);
    bytes_ -= best_size;
    return block;
  }

  // Keeps `block`, and hands back those that no longer fit, the oldest first
  // (what is read now is the likelier to be read again), for the caller to
  // free outside the lock.
  std::vector<Block> Keep(Block block) {
    std::vector<Block> gone;
    const std::size_t size = SizeOf()(block);
    if (size > limit_) {
      gone.push_back(std::move(block));
      return gone;
    }
    std::lock_guard lock(mutex_);
    blocks_.push_back(std::move(block));
    bytes_ += size;
    while (bytes_ > limit_) {
      bytes_ -= SizeOf()(blocks_.front());
      gone.push_back(std::move(blocks_.front()));
      blocks_.erase(blocks_.begin());
    }
    return gone;
  }

 private:
  const std::size_t limit_;
  std::mutex mutex_;
  std::vector<Block> blocks_;  // the oldest first
  std::size_t bytes_ = 0;
};

}  // namespace heartpage::server
