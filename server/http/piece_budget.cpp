#include "server/http/piece_budget.h"

#include <algorithm>

namespace heartpage::server {

PieceBudget::Taking PieceBudget::Take(Connection* connection, std::weak_ptr<Connection> handle,
                                      const std::string& address) {
  const std::lock_guard lock(mutex_);
  if (holders_.contains(connection)) return {true, nullptr};
  std::size_t& mine = by_address_[address];
  Taking taking;
  // The one giving way leaves on its own thread: until it has, the room
  // runs over by an eighth at most, and no further.
  const bool over_share = mine >= per_address_;
  if (over_share || holders_.size() >= limit_) {
    if (over_share ? mine < per_address_ + std::max<std::size_t>(per_address_ / 8, 1)
                   : holders_.size() < limit_ + std::max<std::size_t>(limit_ / 8, 1))
      taking.evict = PickSlowest(connection, over_share ? address : std::string());
    if (!taking.evict) {
      if (mine == 0) by_address_.erase(address);
      return taking;
    }
  }
  ++mine;
  holders_.emplace(connection, Holder{address, std::move(handle)});
  taking.taken = true;
  return taking;
}

void PieceBudget::Give(Connection* connection) {
  const std::lock_guard lock(mutex_);
  const auto it = holders_.find(connection);
  if (it == holders_.end()) return;
  const auto count = by_address_.find(it->second.address);
  if (count != by_address_.end() && --count->second == 0) by_address_.erase(count);
  holders_.erase(it);
}

std::shared_ptr<Connection> PieceBudget::PickSlowest(const Connection* asking,
                                                     const std::string& address) {
  const std::int64_t now = Ticks(Clock::now());
  const std::int64_t shortest = std::chrono::duration_cast<Clock::duration>(kShortestPace).count();
  // Every holder is looked at: this happens only at a cap, and holders are
  // bounded by it.
  for (int tries = 0; tries < 2; ++tries) {
    Connection* slowest = nullptr;
    const Holder* slowest_holder = nullptr;
    std::int64_t slowest_since = 0;
    double slowest_pace = 0;
    for (const auto& [candidate, holder] : holders_) {
      if (candidate == asking || (!address.empty() && holder.address != address)) continue;
      const std::int64_t since = candidate->sending_since.load(std::memory_order_relaxed);
      if (since <= 0 || now - since < shortest) continue;
      const double pace =
          static_cast<double>(candidate->sending_taken.load(std::memory_order_relaxed)) /
          static_cast<double>(now - since);
      if (slowest == nullptr || pace < slowest_pace) {
        slowest = candidate;
        slowest_holder = &holder;
        slowest_since = since;
        slowest_pace = pace;
      }
    }
    if (slowest == nullptr) return nullptr;
    if (slowest->sending_since.compare_exchange_strong(slowest_since, Connection::kPicked))
      if (auto picked = slowest_holder->handle.lock()) return picked;
  }
  return nullptr;
}

}  // namespace heartpage::server
