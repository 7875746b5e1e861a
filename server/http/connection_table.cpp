#include "server/http/connection_table.h"

#include <string_view>

#include "server/http/client_address.h"
#include "server/http/connection.h"

namespace heartpage::server {

namespace {

// Enough to find a waiting connection among mostly waiting ones, cheap
// enough to look at for every connection while the server is full.
constexpr int kCandidates = 8;

}  // namespace

ConnectionTable::ConnectionTable(std::size_t max_connections, std::size_t max_per_address)
    : max_connections_(max_connections), max_per_address_(max_per_address) {}

ConnectionTable::AddressKey ConnectionTable::KeyOf(const boost::asio::ip::address& peer) {
  return LimitKeyOf(peer);
}

std::size_t ConnectionTable::KeyHash::operator()(const AddressKey& key) const {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}

ConnectionTable::Admission ConnectionTable::Admit(const boost::asio::ip::address& peer) {
  const AddressKey key = KeyOf(peer);
  std::lock_guard lock(mutex_);
  std::size_t& from_address = per_address_[key];
  if (from_address >= max_per_address_) return {Verdict::kTooManyFromAddress, nullptr};
  Admission admission;
  if (counted_ >= max_connections_) {
    admission.evict = PickWaiting();
    if (!admission.evict) {
      if (from_address == 0) per_address_.erase(key);
      return {Verdict::kTooMany, nullptr};
    }
  }
  ++from_address;
  ++counted_;
  return admission;
}

std::shared_ptr<Connection> ConnectionTable::PickWaiting() {
  if (slots_.empty()) return nullptr;
  Slot* oldest = nullptr;
  std::int64_t oldest_since = 0;
  for (int i = 0; i < kCandidates; ++i) {
    Slot& slot = slots_[random_() % slots_.size()];
    const std::int64_t since = slot.connection->waiting_since.load(std::memory_order_relaxed);
    if (since > 0 && (oldest == nullptr || since < oldest_since)) {
      oldest = &slot;
      oldest_since = since;
    }
  }
  if (oldest == nullptr) return nullptr;
  // Picked once only; a connection whose request began meanwhile stays.
  if (!oldest->connection->waiting_since.compare_exchange_strong(oldest_since, Connection::kPicked))
    return nullptr;
  return oldest->handle.lock();
}

void ConnectionTable::Add(Connection* connection, std::weak_ptr<Connection> handle,
                          const boost::asio::ip::address& peer) {
  std::lock_guard lock(mutex_);
  index_.emplace(connection, slots_.size());
  slots_.push_back({connection, std::move(handle), KeyOf(peer)});
}

std::size_t ConnectionTable::Forget(Connection* connection) {
  std::lock_guard lock(mutex_);
  const auto it = index_.find(connection);
  if (it == index_.end()) return counted_;
  const std::size_t position = it->second;
  index_.erase(it);
  if (const auto count = per_address_.find(slots_[position].address);
      count != per_address_.end() && --count->second == 0)
    per_address_.erase(count);
  --counted_;
  if (position + 1 != slots_.size()) {
    slots_[position] = std::move(slots_.back());
    index_[slots_[position].connection] = position;
  }
  slots_.pop_back();
  return counted_;
}

std::vector<std::shared_ptr<Connection>> ConnectionTable::Open() {
  std::vector<std::shared_ptr<Connection>> open;
  std::lock_guard lock(mutex_);
  open.reserve(slots_.size());
  for (Slot& slot : slots_)
    if (auto connection = slot.handle.lock()) open.push_back(std::move(connection));
  return open;
}

}  // namespace heartpage::server
