#include "server/http/server_shared.h"

#include <algorithm>
#include <climits>

#include "protocol/wire.h"
#include "server/site/common/client_address.h"
#include "server/storage/media_store.h"

namespace heartpage::server {

ServerShared::ServerShared(ServerConfig configuration, Stores storage)
    : config(std::move(configuration)),
      compressed_assets(this->config.asset_dirs),
      asset_paths(this->config.asset_dirs),
      maker_files(this->config.maker_dir, this->config.artwork_dir),
      site{storage,
           this->config.public_host,
           this->config.asset_dirs,
           this->config.media,
           &compressed_assets,
           &asset_paths,
           this->config.abuse_contact},
      connections({.connections =
                       this->config.max_connections == 0 ? SIZE_MAX : this->config.max_connections,
                   .per_address = this->config.max_connections_per_address,
                   .handshakes_per_address = this->config.max_handshakes_per_address,
                   .bodies_per_address = this->config.max_bodies_per_address}),
      body_budget(this->config.max_body_memory,
                  this->config.max_body_memory_per_address > 0
                      ? this->config.max_body_memory_per_address
                      : std::max(this->config.max_body, this->config.max_body_memory / 4)),
      pieces(std::max<std::size_t>(this->config.max_send_memory / kMediaChunk, 1),
             std::max<std::size_t>(this->config.max_send_memory / kMediaChunk / 4, 1)) {
  for (std::size_t kind = 0; kind < kKindsOfWork; ++kind)
    if (const RateLane& rate = this->config.rates.lanes[kind]; rate.per_minute > 0)
      lanes_[kind].emplace(rate.per_minute, rate.burst > 0 ? rate.burst : rate.per_minute);
  if (this->config.page_reads_per_second > 0) {
    const auto kib = [](std::size_t bytes) {
      return static_cast<unsigned>(std::clamp<std::size_t>(bytes / 1024, 1, UINT_MAX / 60));
    };
    page_reads_.emplace(kib(this->config.page_reads_per_second) * 60,
                        kib(this->config.page_read_burst));
  }
}

void ServerShared::Add(Connection* connection, std::weak_ptr<Connection> handle,
                       const boost::asio::ip::address& peer, bool handshake) {
  connections.Add(connection, std::move(handle), peer, handshake);
}

void ServerShared::Forget(Connection* connection) {
  if (connections.Forget(connection) == 0 && stopping && on_all_gone) on_all_gone();
}

void ServerShared::Note(std::string_view text) {
  log_.Write("heartpage-server: " + std::string(text) + "\n");
}

std::chrono::seconds ServerShared::Throttle(Work work, const std::string& client) {
  std::optional<RateLimiter>& lane = lanes_[static_cast<std::size_t>(work)];
  return lane ? lane->Take(LimitKey(client)) : std::chrono::seconds(0);
}

void ServerShared::ChargeGuess(const std::string& client, const EndpointOperation* operation,
                               unsigned status) {
  if (operation == nullptr || !operation->for_owner || status != wire::status::kNotYours ||
      operation->guessed_stores == 0)
    return;
  if (std::optional<RateLimiter>& stores = lanes_[static_cast<std::size_t>(Work::kStore)])
    stores->Charge(LimitKey(client), operation->guessed_stores);
}

std::chrono::seconds ServerShared::PageReadWait(const std::string& client) {
  return page_reads_ ? page_reads_->Take(LimitKey(client)) : std::chrono::seconds(0);
}

void ServerShared::ChargeReads(const std::string& client, std::size_t bytes) {
  // The wait took the first KiB. The debt stays bounded: a page is never
  // larger than a body.
  const std::size_t kib = (bytes + 1023) / 1024;
  if (page_reads_ && kib > 1)
    page_reads_->Charge(LimitKey(client),
                        static_cast<unsigned>(std::min<std::size_t>(kib - 1, UINT_MAX)));
}

bool ServerShared::TakeUploadSlot(unsigned slots) {
  if (media_uploads_.fetch_add(1) < slots) return true;
  media_uploads_.fetch_sub(1);
  return false;
}

}  // namespace heartpage::server
