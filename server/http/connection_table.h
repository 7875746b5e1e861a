#pragma once

#include <boost/asio/ip/address.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

namespace heartpage::server {

class Connection;

// Every open connection and how many come from each client address: decides
// whether a new connection may stay, and which waiting connection makes room
// for it when the server is full.
class ConnectionTable {
 public:
  ConnectionTable(std::size_t max_connections, std::size_t max_per_address);

  enum class Verdict { kAdmitted, kTooManyFromAddress, kTooMany };
  struct Admission {
    Verdict verdict = Verdict::kAdmitted;
    // At the limit, a connection that waits for a request (the longest
    // waiting of a few picked at random) to close so as to make room. The new
    // connection counts at once; the old one when it has gone.
    std::shared_ptr<Connection> evict;
  };
  // Counts a new connection from `peer` in, unless it is over a limit.
  Admission Admit(const boost::asio::ip::address& peer);

  // An admitted connection, once it exists.
  void Add(Connection* connection, std::weak_ptr<Connection> handle,
           const boost::asio::ip::address& peer);
  // Returns how many connections are left.
  std::size_t Forget(Connection* connection);
  std::vector<std::shared_ptr<Connection>> Open();

 private:
  // IPv4 addresses whole; IPv6 ones by their /64, which one client holds.
  using AddressKey = std::array<unsigned char, 16>;
  static AddressKey KeyOf(const boost::asio::ip::address& peer);
  struct KeyHash {
    std::size_t operator()(const AddressKey& key) const;
  };
  struct Slot {
    Connection* connection;
    std::weak_ptr<Connection> handle;
    AddressKey address;
  };
  std::shared_ptr<Connection> PickWaiting();

  const std::size_t max_connections_;
  const std::size_t max_per_address_;
  std::mutex mutex_;
  std::size_t counted_ = 0;
  std::unordered_map<AddressKey, std::size_t, KeyHash> per_address_;
  std::vector<Slot> slots_;
  std::unordered_map<Connection*, std::size_t> index_;
  std::minstd_rand random_;
};

}  // namespace heartpage::server
