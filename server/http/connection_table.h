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
// whether a new connection may stay, and which connection makes room for it
// when the server is full. A client that holds its connections in a state
// the server cannot end on its own (a TLS handshake, a body) holds only a
// share of them, so that no one address, nor a crowd of addresses, keeps
// everyone else out.
class ConnectionTable {
 public:
  struct Limits {
    std::size_t connections = SIZE_MAX;
    std::size_t per_address = 64;
    // Of an address's connections, how many may be in a TLS handshake, and
    // how many receiving a body, at once.
    std::size_t handshakes_per_address = 8;
    std::size_t bodies_per_address = 8;
  };
  explicit ConnectionTable(Limits limits);

  enum class Verdict { kAdmitted, kTooManyFromAddress, kTooManyHandshakes, kTooMany };
  struct Admission {
    Verdict verdict = Verdict::kAdmitted;
    // At the limit, a connection to close so as to make room: the longest
    // waiting for a request or a handshake, else the slowest body, of a few
    // picked at random. The new connection counts at once; the old one when
    // it has gone.
    std::shared_ptr<Connection> evict;
  };
  // Counts a new connection from `peer` in, unless it is over a limit.
  // `handshake`: it begins with a TLS handshake.
  Admission Admit(const boost::asio::ip::address& peer, bool handshake);

  // An admitted connection, once it exists.
  void Add(Connection* connection, std::weak_ptr<Connection> handle,
           const boost::asio::ip::address& peer, bool handshake);
  void HandshakeDone(Connection* connection);
  // A body is to be received: false, counting nothing, when the connection's
  // address has its share of bodies arriving already.
  bool BeginBody(Connection* connection);
  void EndBody(Connection* connection);
  // The body budget is full: the slowest body under way that holds at
  // least `held` bytes of it, not `asking`'s own, picked to give way
  // (see Admission::evict); none when there is no such body.
  std::shared_ptr<Connection> PickSlowestBody(const Connection* asking, std::size_t held);
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
    bool handshake = false;
    bool body = false;
  };
  struct Held {
    std::size_t connections = 0;
    std::size_t handshakes = 0;
    std::size_t bodies = 0;
  };
  std::shared_ptr<Connection> PickToClose();
  Slot* Find(Connection* connection);
  void Release(const AddressKey& address, std::size_t Held::*what);

  const Limits limits_;
  std::mutex mutex_;
  std::size_t counted_ = 0;
  std::unordered_map<AddressKey, Held, KeyHash> per_address_;
  std::vector<Slot> slots_;
  std::unordered_map<Connection*, std::size_t> index_;
  std::minstd_rand random_;
};

}  // namespace heartpage::server
