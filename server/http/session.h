#pragma once

#include <boost/asio/basic_stream_socket.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/site/asset_gzip.h"
#include "server/site/assets.h"
#include "server/http/body_budget.h"
#include "server/http/connection_table.h"
#include "server/http/http_server.h"
#include "server/http/rate_limit.h"
#include "server/http/request_log.h"
#include "server/site/router.h"
#include "server/storage/storage_workers.h"

namespace boost::asio::ssl {
class context;
}

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
  ServerShared(ServerConfig config, Stores storage);

  ServerConfig config;
  // Compressed before the first connection, and never changed after.
  CompressedAssets compressed_assets;
  AssetPaths asset_paths;
  Site site;
  std::atomic<bool> stopping{false};
  // Called on whichever thread forgets the last connection once stopping.
  std::function<void()> on_all_gone;

  ConnectionTable connections;
  BodyBudget body_budget;
  // Files being received now (MediaLimits::uploads_at_once).
  std::atomic<unsigned> media_uploads{0};
  // Connections turned away since the last note in the log.
  std::atomic<std::uint64_t> refused{0};

  void Add(Connection* connection, std::weak_ptr<Connection> handle,
           const boost::asio::ip::address& peer);
  void Forget(Connection* connection);
  std::vector<std::shared_ptr<Connection>> Open() { return connections.Open(); }

  // The storage workers that requests needing the database are handed to;
  // owned by the listener, which outlives every use.
  StorageWorkers* workers = nullptr;

  // Zero when `work` from `client` may go ahead now; otherwise how long the
  // client should wait before asking again.
  std::chrono::seconds Throttle(Work work, const std::string& client);

  // One line of the request log: who asked what, and how it ended.
  struct LogEntry {
    std::string_view method;
    std::string_view target;
    unsigned status = 0;
    std::size_t bytes = 0;
    Clock::time_point started;
    std::string_view client;
    const Audit* audit = nullptr;  // endpoint requests only
    std::string_view outcome;      // the refusal's reason, for errors
  };
  void Log(const LogEntry& entry);
  // A line of the server's own in the same log.
  void Note(std::string_view text);
  void FlushLog() { log_.Flush(); }

 private:
  std::optional<RateLimiter> claims_;
  std::optional<RateLimiter> stores_;
  RequestLog log_{2};
};

// Serve a freshly accepted and admitted connection until it ends, in plain
// HTTP or, after a TLS handshake with the certificate of `tls`, in HTTPS.
void StartSession(Socket&& socket, std::shared_ptr<ServerShared> shared,
                  const boost::asio::ip::address& peer);
void StartTlsSession(Socket&& socket, std::shared_ptr<boost::asio::ssl::context> tls,
                     std::shared_ptr<ServerShared> shared, const boost::asio::ip::address& peer);

}  // namespace heartpage::server
