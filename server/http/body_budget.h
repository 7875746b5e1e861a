#pragma once

#include <atomic>
#include <cstddef>

namespace heartpage::server {

// The memory that request bodies being received may take, across all
// connections: however many clients upload at once, slowly or never
// finishing, bodies never hold more than this.
class BodyBudget {
 public:
  // Bodies up to this size are the short requests of the endpoint (lookups,
  // claims); larger ones are pages. Pages may not take the last eighth of the
  // budget, so that a crowd of uploads leaves room for everyone else's
  // claims and lookups.
  static constexpr std::size_t kSmallBody = 64 * 1024;

  explicit BodyBudget(std::size_t bytes) : limit_(bytes) {}

  // Takes `more` bytes for a body that holds `held` already; false, taking
  // nothing, when they do not fit.
  bool Take(std::size_t held, std::size_t more) {
    const std::size_t limit = held + more <= kSmallBody ? limit_ : limit_ - limit_ / 8;
    std::size_t used = used_.load(std::memory_order_relaxed);
    do {
      if (more > limit || used > limit - more) return false;
    } while (!used_.compare_exchange_weak(used, used + more, std::memory_order_relaxed));
    return true;
  }
  void Give(std::size_t bytes) { used_.fetch_sub(bytes, std::memory_order_relaxed); }

  std::size_t limit() const { return limit_; }

 private:
  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

// What one request's body holds of the budget, given back when the request
// is done with.
class BodyHold {
 public:
  explicit BodyHold(BodyBudget& budget) : budget_(budget) {}
  ~BodyHold() { Release(); }
  BodyHold(const BodyHold&) = delete;
  BodyHold& operator=(const BodyHold&) = delete;

  // Grows the hold to `total` bytes; false when the budget has no room.
  bool GrowTo(std::size_t total) {
    if (total <= held_) return true;
    if (!budget_.Take(held_, total - held_)) return false;
    held_ = total;
    return true;
  }
  void Release() {
    if (held_ > 0) budget_.Give(held_);
    held_ = 0;
  }
  std::size_t held() const { return held_; }

 private:
  BodyBudget& budget_;
  std::size_t held_ = 0;
};

}  // namespace heartpage::server
