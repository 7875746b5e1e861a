#pragma once

#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>

namespace heartpage::server {

using Clock = std::chrono::steady_clock;
// Each connection lives on one io_context: no type-erased executor needed.
using Socket =
    boost::asio::basic_stream_socket<boost::asio::ip::tcp, boost::asio::io_context::executor_type>;

// A time as the atomics below hold it.
inline std::int64_t Ticks(Clock::time_point time) {
  return time.time_since_epoch().count();
}

// The listener's handle on one open connection. Each call is made on the
// connection's own executor.
class Connection {
 public:
  virtual ~Connection() = default;
  // A connection waiting for its next request is closed at once; one in the
  // middle of a request finishes it first.
  virtual void StopIfIdle() = 0;
  // A connection that has waited too long for its client (idle, slow to send
  // its request, slow to read our answer) ends.
  virtual void CloseIfExpired(Clock::time_point now) = 0;
  // Closes a connection picked to make room, unless it has moved on since
  // (its next request, or its body, has come meanwhile).
  virtual void CloseIfPicked() = 0;
  virtual boost::asio::io_context::executor_type Executor() = 0;

  // Read by the connection table on the listener's thread, to choose who
  // makes room, and written by the connection's own.
  //
  // Since when (steady clock, in its ticks) the connection has been waiting
  // for a request or for the client's TLS handshake; 0 while it has neither,
  // kPicked once chosen to make room.
  std::atomic<std::int64_t> waiting_since{0};
  // Since when a body held against its address's share has been arriving,
  // and how many bytes of it have; 0 when none is, kPicked once chosen.
  std::atomic<std::int64_t> body_since{0};
  std::atomic<std::uint64_t> body_bytes{0};
  // The memory its body holds of the body budget.
  std::atomic<std::uint64_t> body_held{0};
  // Since when an answer holding room in the piece budget has been sent,
  // and how many bytes of it the client has taken; 0 when none is,
  // kPicked once chosen to give way.
  std::atomic<std::int64_t> sending_since{0};
  std::atomic<std::uint64_t> sending_taken{0};
  static constexpr std::int64_t kPicked = -1;
};

}  // namespace heartpage::server
