#pragma once

#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

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
  virtual boost::asio::io_context::executor_type Executor() = 0;
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

  void Add(Connection* connection, std::weak_ptr<Connection> handle);
  void Forget(Connection* connection);
  std::vector<std::shared_ptr<Connection>> Open();

  // One line of the request log.
  void Log(std::string_view method, std::string_view target, unsigned status, std::size_t bytes,
           Clock::time_point started);
  void FlushLog() { log_.Flush(); }

 private:
  std::mutex mutex_;
  std::unordered_map<Connection*, std::weak_ptr<Connection>> connections_;
  RequestLog log_{2};
};

// Serves a freshly accepted connection until it ends.
void StartSession(Socket&& socket, std::shared_ptr<ServerShared> shared);

}  // namespace heartpage::server
