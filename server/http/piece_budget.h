#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "server/http/connection.h"

namespace heartpage::server {

// The room for answers sent a piece at a time from where their file is kept
// (PieceBody): each holds one piece in memory for as long as it is sent,
// however slowly its reader takes it. Room is counted site-wide and by
// client address; at either cap the slowest reader of those that fill it
// gives way to the newcomer, so that neither a few slow readers from one
// address nor a crowd of them from many keeps anyone's photo out.
class PieceBudget {
 public:
  // A reader's pace counts once it has been read this long: before, it has
  // not had the time to show it is fast, nor to be taken for slow.
  static constexpr auto kShortestPace = std::chrono::seconds(2);

  PieceBudget(std::size_t answers, std::size_t per_address)
      : limit_(answers), per_address_(per_address) {}

  struct Taking {
    bool taken = false;
    // Picked to make room for it: the caller has it close.
    std::shared_ptr<Connection> evict;
  };
  // Room for one answer of `connection`'s (whose address has limit key
  // `address`), which sets its Connection::sending_since first. Nothing is
  // taken when the room it needs is held by readers too young to tell.
  Taking Take(Connection* connection, std::weak_ptr<Connection> handle, const std::string& address);
  void Give(Connection* connection);

 private:
  struct Holder {
    std::string address;
    std::weak_ptr<Connection> handle;
  };
  // The slowest holder, of `address` alone unless empty, that is not
  // `asking`; marked picked.
  std::shared_ptr<Connection> PickSlowest(const Connection* asking, const std::string& address);

  const std::size_t limit_;
  const std::size_t per_address_;
  std::mutex mutex_;
  std::unordered_map<Connection*, Holder> holders_;
  std::unordered_map<std::string, std::size_t> by_address_;
};

}  // namespace heartpage::server
