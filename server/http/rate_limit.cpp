#include "server/http/rate_limit.h"

#include <algorithm>

namespace heartpage::server {
namespace {

RateLimiter::Clock::duration IntervalOf(unsigned per_minute) {
  using namespace std::chrono;
  return duration_cast<RateLimiter::Clock::duration>(minutes(1)) / std::max(1u, per_minute);
}

}  // namespace

RateLimiter::RateLimiter(unsigned per_minute, unsigned burst, std::size_t max_addresses)
    : interval_(IntervalOf(per_minute)),
      tolerance_(interval_ * (std::max(1u, burst) - 1)),
      max_addresses_(std::max<std::size_t>(1, max_addresses)) {}

void RateLimiter::Prune(Clock::time_point now) {
  std::erase_if(full_at_, [&](const auto& entry) { return entry.second <= now; });
  // Every address is still paying off a burst: a flood of fresh addresses.
  // Forgetting some of them lets those few start over, which costs less than
  // unbounded memory.
  while (full_at_.size() >= max_addresses_) full_at_.erase(full_at_.begin());
}

std::chrono::seconds RateLimiter::Take(std::string_view address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = full_at_.find(std::string(address));
  if (it == full_at_.end()) {
    if (full_at_.size() >= max_addresses_) Prune(now);
    it = full_at_.emplace(std::string(address), now).first;
  }
  const Clock::time_point full_at = std::max(it->second, now);
  const Clock::duration debt = full_at - now;
  if (debt > tolerance_) {
    const Clock::duration wait = debt - tolerance_;
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait);
    return std::max(seconds, std::chrono::seconds(1));
  }
  it->second = full_at + interval_;
  return std::chrono::seconds(0);
}

void RateLimiter::Charge(std::string_view address, unsigned tokens, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  auto it = full_at_.find(std::string(address));
  if (it == full_at_.end()) {
    if (full_at_.size() >= max_addresses_) Prune(now);
    it = full_at_.emplace(std::string(address), now).first;
  }
  it->second = std::max(it->second, now) + interval_ * tokens;
}

std::size_t RateLimiter::Size() {
  std::lock_guard lock(mutex_);
  return full_at_.size();
}

}  // namespace heartpage::server
