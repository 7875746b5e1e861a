#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace heartpage::server {

// Token buckets keyed by client address: each address may spend `burst`
// requests at once and then `per_minute` a minute. Thread-safe. Memory stays
// bounded however many addresses come by: buckets that have filled up again
// carry no information and are dropped when the table grows.
class RateLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  RateLimiter(unsigned per_minute, unsigned burst, std::size_t max_addresses = 100'000);

  // Takes one token for `address`. Zero when the request may go ahead,
  // otherwise how long until it would (at least one second, for Retry-After).
  std::chrono::seconds Take(std::string_view address, Clock::time_point now = Clock::now());

  // Charges `address` `tokens` more, whatever it has left: for what cost
  // more than the request that was let through. Only ever after a Take that
  // went ahead, so the debt stays bounded.
  void Charge(std::string_view address, unsigned tokens, Clock::time_point now = Clock::now());

  // Addresses currently tracked.
  std::size_t Size();

 private:
  void Prune(Clock::time_point now);

  // Kept as the time at which the bucket would be full again (the "generic
  // cell rate" form of a token bucket): whole durations, no rounding drift.
  const Clock::duration interval_;   // one token's worth of time
  const Clock::duration tolerance_;  // the burst beyond the first token
  const std::size_t max_addresses_;
  std::mutex mutex_;
  std::unordered_map<std::string, Clock::time_point> full_at_;
};

}  // namespace heartpage::server
