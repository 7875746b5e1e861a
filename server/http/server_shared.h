#pragma once

#include <boost/asio/ip/address.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/http/body_budget.h"
#include "server/http/code_workers.h"
#include "server/http/connection.h"
#include "server/http/connection_table.h"
#include "server/http/http_server.h"
#include "server/http/piece_budget.h"
#include "server/http/rate_limit.h"
#include "server/http/request_log.h"
#include "server/site/files/asset_gzip.h"
#include "server/site/files/assets.h"
#include "server/site/files/maker_files.h"
#include "server/site/files/media_admission.h"
#include "server/site/router.h"
#include "server/storage/storage_workers.h"

namespace heartpage::server {

// What the listener shares with its connections, which may outlive a Run().
class ServerShared final : public UploadGate {
 public:
  ServerShared(ServerConfig config, Stores storage);

  ServerConfig config;
  // Compressed before the first connection, and never changed after.
  CompressedAssets compressed_assets;
  AssetPaths asset_paths;
  MakerFiles maker_files;
  Site site;
  std::atomic<bool> stopping{false};
  // Called on whichever thread forgets the last connection once stopping.
  std::function<void()> on_all_gone;

  ConnectionTable connections;
  BodyBudget body_budget;
  // Answers sent a piece at a time (the senders' files), a piece each in
  // memory: within --max-send-memory, one address a quarter of it.
  PieceBudget pieces;
  // Connections turned away since the last note in the log.
  std::atomic<std::uint64_t> refused{0};

  void Add(Connection* connection, std::weak_ptr<Connection> handle,
           const boost::asio::ip::address& peer, bool handshake);
  void Forget(Connection* connection);
  std::vector<std::shared_ptr<Connection>> Open() { return connections.Open(); }

  // The storage workers that requests needing the database are handed to;
  // owned by the listener, which outlives every use.
  StorageWorkers* workers = nullptr;
  // Where what hashes a code is answered instead (Routed::hashes_code).
  CodeWorkers* code_workers = nullptr;

  // Zero when `work` from `client` may go ahead now; otherwise how long the
  // client should wait before asking again. Every rate counts a client by its
  // LimitKey.
  std::chrono::seconds Throttle(Work work, const std::string& client);
  // After `operation` of the endpoint from `client` (none: another request)
  // was answered with `status`: a refused ownership check costs the
  // client's store rate twice, so that guessing which identifier owns a name
  // goes at half the speed of storing.
  void ChargeGuess(const std::string& client, const EndpointOperation* operation, unsigned status);
  // Like Throttle, for a request that reads a page or a preview from the
  // database (Routed::reads_page); ChargeReads counts what it read.
  std::chrono::seconds PageReadWait(const std::string& client);
  void ChargeReads(const std::string& client, std::size_t bytes);

  std::chrono::seconds StoreWait(const std::string& client) override {
    return Throttle(Work::kStore, client);
  }
  bool TakeUploadSlot(unsigned slots) override;
  void GiveUploadSlot() override { media_uploads_.fetch_sub(1); }
  void ForceUploadSlot() override { media_uploads_.fetch_add(1); }

  // One line of the request log.
  void Log(const LogEntry& entry) { log_.Write(FormatLogLine(entry, Clock::now())); }
  // A line of the server's own in the same log.
  void Note(std::string_view text);
  void FlushLog() { log_.Flush(); }

 private:
  // Each kind of work's counters by client address, indexed by Work; none:
  // no limit.
  std::array<std::optional<RateLimiter>, kKindsOfWork> lanes_;
  // A token a KiB.
  std::optional<RateLimiter> page_reads_;
  // Files being received now (MediaLimits::uploads_at_once).
  std::atomic<unsigned> media_uploads_{0};
  RequestLog log_{2};
};

}  // namespace heartpage::server
