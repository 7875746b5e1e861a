#include "server/http/connection_table.h"

#include <algorithm>
#include <string_view>

#include "server/http/connection.h"
#include "server/site/common/client_address.h"

namespace heartpage::server {

namespace {

// Enough to find a connection that can give way among mostly such ones,
// cheap enough to look at for every connection while the server is full.
constexpr std::size_t kCandidates = 8;
// A body's pace counts over at least this long: one that has just begun has
// not had the time to show it is fast, nor to be taken for slow.
constexpr std::int64_t kShortestPace =
    std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)).count();

}  // namespace

ConnectionTable::ConnectionTable(Limits limits) : limits_(limits) {}

ConnectionTable::AddressKey ConnectionTable::KeyOf(const boost::asio::ip::address& peer) {
  return LimitKeyOf(peer);
}

std::size_t ConnectionTable::KeyHash::operator()(const AddressKey& key) const {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
}

ConnectionTable::Admission ConnectionTable::Admit(const boost::asio::ip::address& peer,
                                                  bool handshake) {
  const AddressKey key = KeyOf(peer);
  std::lock_guard lock(mutex_);
  Held& held = per_address_[key];
  const auto refuse = [&](Verdict verdict) {
    if (held.connections == 0) per_address_.erase(key);
    return Admission{verdict, nullptr};
  };
  if (held.connections >= limits_.per_address) return refuse(Verdict::kTooManyFromAddress);
  if (handshake && held.handshakes >= limits_.handshakes_per_address)
    return refuse(Verdict::kTooManyHandshakes);
  Admission admission;
  if (counted_ >= limits_.connections) {
    admission.evict = PickToClose();
    if (!admission.evict) return refuse(Verdict::kTooMany);
  }
  ++held.connections;
  if (handshake) ++held.handshakes;
  ++counted_;
  return admission;
}

std::shared_ptr<Connection> ConnectionTable::PickToClose() {
  if (slots_.empty()) return nullptr;
  const std::int64_t now = Ticks(Clock::now());
  Slot* waiting = nullptr;
  std::int64_t waiting_since = 0;
  Slot* body = nullptr;
  std::int64_t body_since = 0;
  double slowest = 0;
  // A small table is looked at whole.
  const bool whole = slots_.size() <= kCandidates;
  const std::size_t looks = whole ? slots_.size() : kCandidates;
  for (std::size_t i = 0; i < looks; ++i) {
    Slot& slot = slots_[whole ? i : random_() % slots_.size()];
    const Connection& candidate = *slot.connection;
    const std::int64_t since = candidate.waiting_since.load(std::memory_order_relaxed);
    if (since > 0) {
      if (waiting == nullptr || since < waiting_since) {
        waiting = &slot;
        waiting_since = since;
      }
      continue;
    }
    const std::int64_t began = candidate.body_since.load(std::memory_order_relaxed);
    if (began <= 0) continue;
    const double pace = static_cast<double>(candidate.body_bytes.load(std::memory_order_relaxed)) /
                        static_cast<double>(std::max(now - began, kShortestPace));
    if (body == nullptr || pace < slowest) {
      body = &slot;
      body_since = began;
      slowest = pace;
    }
  }
  // Picked once only; a connection whose request (or body's end) came
  // meanwhile stays.
  if (waiting != nullptr && waiting->connection->waiting_since.compare_exchange_strong(
                                waiting_since, Connection::kPicked))
    return waiting->handle.lock();
  if (body != nullptr &&
      body->connection->body_since.compare_exchange_strong(body_since, Connection::kPicked))
    return body->handle.lock();
  return nullptr;
}

void ConnectionTable::Add(Connection* connection, std::weak_ptr<Connection> handle,
                          const boost::asio::ip::address& peer, bool handshake) {
  std::lock_guard lock(mutex_);
  index_.emplace(connection, slots_.size());
  slots_.push_back({connection, std::move(handle), KeyOf(peer), handshake, false});
}

ConnectionTable::Slot* ConnectionTable::Find(Connection* connection) {
  const auto it = index_.find(connection);
  return it == index_.end() ? nullptr : &slots_[it->second];
}

void ConnectionTable::Release(const AddressKey& address, std::size_t Held::*what) {
  const auto it = per_address_.find(address);
  if (it == per_address_.end()) return;
  Held& held = it->second;
  if (held.*what > 0) --(held.*what);
  if (held.connections == 0 && held.handshakes == 0 && held.bodies == 0) per_address_.erase(it);
}

void ConnectionTable::HandshakeDone(Connection* connection) {
  std::lock_guard lock(mutex_);
  Slot* slot = Find(connection);
  if (slot == nullptr || !slot->handshake) return;
  slot->handshake = false;
  Release(slot->address, &Held::handshakes);
}

bool ConnectionTable::BeginBody(Connection* connection) {
  std::lock_guard lock(mutex_);
  Slot* slot = Find(connection);
  if (slot == nullptr || slot->body) return true;
  Held& held = per_address_[slot->address];
  if (held.bodies >= limits_.bodies_per_address) return false;
  ++held.bodies;
  slot->body = true;
  return true;
}

std::shared_ptr<Connection> ConnectionTable::PickSlowestBody(const Connection* asking,
                                                             std::size_t held) {
  const std::int64_t now = Ticks(Clock::now());
  std::lock_guard lock(mutex_);
  // Every body is looked at: this happens only when the budget is full, and
  // bodies are a few per address.
  for (int tries = 0; tries < 2; ++tries) {
    Slot* slowest = nullptr;
    std::int64_t slowest_since = 0;
    double slowest_pace = 0;
    for (Slot& slot : slots_) {
      const Connection& candidate = *slot.connection;
      if (!slot.body || slot.connection == asking ||
          candidate.body_held.load(std::memory_order_relaxed) < held)
        continue;
      const std::int64_t began = candidate.body_since.load(std::memory_order_relaxed);
      if (began <= 0) continue;
      const double pace =
          static_cast<double>(candidate.body_bytes.load(std::memory_order_relaxed)) /
          static_cast<double>(std::max(now - began, kShortestPace));
      if (slowest == nullptr || pace < slowest_pace) {
        slowest = &slot;
        slowest_since = began;
        slowest_pace = pace;
      }
    }
    if (slowest == nullptr) return nullptr;
    if (slowest->connection->body_since.compare_exchange_strong(slowest_since, Connection::kPicked))
      return slowest->handle.lock();
  }
  return nullptr;
}

void ConnectionTable::EndBody(Connection* connection) {
  std::lock_guard lock(mutex_);
  Slot* slot = Find(connection);
  if (slot == nullptr || !slot->body) return;
  slot->body = false;
  Release(slot->address, &Held::bodies);
}

std::size_t ConnectionTable::Forget(Connection* connection) {
  std::lock_guard lock(mutex_);
  const auto it = index_.find(connection);
  if (it == index_.end()) return counted_;
  const std::size_t position = it->second;
  index_.erase(it);
  const Slot& slot = slots_[position];
  if (slot.handshake) Release(slot.address, &Held::handshakes);
  if (slot.body) Release(slot.address, &Held::bodies);
  Release(slot.address, &Held::connections);
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
