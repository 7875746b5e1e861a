#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace heartpage::server {

// The memory that request bodies being received may take, across all
// connections and for each client address: however many clients upload at
// once, slowly or never finishing, bodies never hold more than this, and no
// one address more than its share of it. A body is charged for what it
// holds, never for what its header declares.
class BodyBudget {
 public:
  // Bodies up to this size are the short requests of the endpoint (lookups,
  // claims); larger ones are pages. Pages may not take the last eighth of the
  // budget, so that a crowd of uploads leaves room for everyone else's
  // claims and lookups.
  static constexpr std::size_t kSmallBody = 64 * 1024;

  enum class Taken { kTaken, kFull, kOverShare };

  BodyBudget(std::size_t bytes, std::size_t per_address)
      : limit_(bytes), per_address_(per_address) {}

  // Takes `more` bytes for a body of `address`'s (its limit key) that holds
  // `held` already. Nothing is taken unless kTaken. `force`: a body holding
  // at least as much has been picked to give way.
  Taken Take(const std::string& address, std::size_t held, std::size_t more, bool force = false) {
    // A body let in beside one giving way may use the last eighth, never
    // more: the budget bounds memory even while the slowest are leaving.
    const std::size_t limit = held + more <= kSmallBody || force ? limit_ : limit_ - limit_ / 8;
    const std::lock_guard lock(mutex_);
    std::size_t& mine = by_address_[address];
    if (more > per_address_ || mine > per_address_ - more) {
      if (mine == 0) by_address_.erase(address);
      return Taken::kOverShare;
    }
    if (more > limit || used_ > limit - more) {
      if (mine == 0) by_address_.erase(address);
      return Taken::kFull;
    }
    mine += more;
    used_ += more;
    return Taken::kTaken;
  }
  void Give(const std::string& address, std::size_t bytes) {
    const std::lock_guard lock(mutex_);
    used_ -= bytes;
    const auto it = by_address_.find(address);
    if (it == by_address_.end()) return;
    it->second -= std::min(it->second, bytes);
    if (it->second == 0) by_address_.erase(it);
  }

  std::size_t limit() const { return limit_; }

 private:
  const std::size_t limit_;
  const std::size_t per_address_;
  std::mutex mutex_;
  std::size_t used_ = 0;
  std::unordered_map<std::string, std::size_t> by_address_;
};

// What one request's body holds of the budget, given back when the request
// is done with.
class BodyHold {
 public:
  explicit BodyHold(BodyBudget& budget) : budget_(budget) {}
  ~BodyHold() { Release(); }
  BodyHold(const BodyHold&) = delete;
  BodyHold& operator=(const BodyHold&) = delete;

  // Whose share the body counts in; set before it grows.
  void SetAddress(std::string key) {
    if (held_ == 0) address_ = std::move(key);
  }

  // Grows the hold to `total` bytes.
  BodyBudget::Taken GrowTo(std::size_t total, bool force = false) {
    if (total <= held_) return BodyBudget::Taken::kTaken;
    const BodyBudget::Taken taken = budget_.Take(address_, held_, total - held_, force);
    if (taken == BodyBudget::Taken::kTaken) held_ = total;
    return taken;
  }
  void Release() {
    if (held_ > 0) budget_.Give(address_, held_);
    held_ = 0;
  }
  std::size_t held() const { return held_; }

 private:
  BodyBudget& budget_;
  std::string address_;
  std::size_t held_ = 0;
};

}  // namespace heartpage::server
