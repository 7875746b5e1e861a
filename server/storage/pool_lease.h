#pragma once

#include <memory>
#include <utility>

namespace heartpage::server {

// A database connection borrowed from its storage's pool, handed back to
// `Owner::Release` when the lease ends, whether the work on it succeeded or
// threw: the owner decides whether a connection is still fit to lend.
template <typename Owner, typename Connection>
class PoolLease {
 public:
  PoolLease(Owner& owner, std::unique_ptr<Connection> connection)
      : owner_(owner), connection_(std::move(connection)) {}
  ~PoolLease() {
    if (connection_) owner_.Release(std::move(connection_));
  }
  PoolLease(PoolLease&&) = default;
  PoolLease(const PoolLease&) = delete;
  PoolLease& operator=(const PoolLease&) = delete;
  Connection* operator->() { return connection_.get(); }
  Connection& operator*() { return *connection_; }

 private:
  Owner& owner_;
  std::unique_ptr<Connection> connection_;
};

}  // namespace heartpage::server
