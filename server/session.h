#pragma once

#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "server/body_budget.h"
#include "server/connection_table.h"
#include "server/http_server.h"
#include "server/request_log.h"
#include "server/router.h"

namespace heartpage::server {

using Clock = std::chrono::steady_clock;
// Each connection lives on one io_context: no type-erased executor needed.
using Socket =
    boost::asio::basic_stream_socket<boost::asio::ip::tcp, boost::asio::io_context::executor_type>;

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
  // Closes a connection picked to make room, unless its next request has
  // begun meanwhile.
  virtual void CloseIfPicked() = 0;
  virtual boost::asio::io_context::executor_type Executor() = 0;

  // Since when (steady clock, in its ticks) the connection has been waiting
  // for a request; 0 while it has one, kPicked once chosen to make room.
  std::atomic<std::int64_t> waiting_since{0};
  static constexpr std::int64_t kPicked = -1;
};

// What the listener shares with its connections, which may outlive a Run().
class ServerShared {
 public:
  ServerShared(ServerConfig config, Storage& storage);

  ServerConfig config;
  Site site;
  std::atomic<bool> stopping{false};
  // Called on whichever thread forgets the last connection once stopping.
  std::function<void()> on_all_gone;

  ConnectionTable connections;
  BodyBudget body_budget;
  // Connections turned away since the last note in the log.
  std::atomic<std::uint64_t> refused{0};

  void Add(Connection* connection, std::weak_ptr<Connection> handle,
           const boost::asio::ip::address& peer);
  void Forget(Connection* connection);
  std::vector<std::shared_ptr<Connection>> Open() { return connections.Open(); }

  // One line of the request log.
  void Log(std::string_view method, std::string_view target, unsigned status, std::size_t bytes,
           Clock::time_point started);
  // A line of the server's own in the same log.
  void Note(std::string_view text);
  void FlushLog() { log_.Flush(); }

 private:
  RequestLog log_{2};
};

// Serves a freshly accepted and admitted connection until it ends.
void StartSession(Socket&& socket, std::shared_ptr<ServerShared> shared,
                  const boost::asio::ip::address& peer);

}  // namespace heartpage::server
