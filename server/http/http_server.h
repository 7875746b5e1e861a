#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/site/common/media_limits.h"
#include "server/site/common/page_limits.h"
#include "server/site/common/work.h"
#include "server/storage/storage.h"

namespace heartpage::server {

// What one client address may do of one kind of work: `per_minute` a minute,
// `burst` at once (0: a minute's worth). A rate of 0 means no limit.
struct RateLane {
  unsigned per_minute = 0;
  unsigned burst = 0;
};

// The lanes indexed by the kind of work; those without a rate have none.
struct RateLanes {
  std::array<RateLane, kKindsOfWork> lanes;
  RateLane& operator[](Work work) { return lanes[static_cast<std::size_t>(work)]; }
  const RateLane& operator[](Work work) const { return lanes[static_cast<std::size_t>(work)]; }
};

inline RateLanes DefaultRates() {
  RateLanes rates;
  rates[Work::kClaim] = {.per_minute = 10, .burst = 20};
  rates[Work::kStore] = {.per_minute = 60, .burst = 60};
  rates[Work::kLookup] = {.per_minute = 30};
  rates[Work::kPreview] = {.per_minute = 120};
  rates[Work::kReport] = {.per_minute = 5};
  rates[Work::kVisit] = {.per_minute = 20};
  return rates;
}

struct ServerConfig {
  std::string listen = "127.0.0.1:8936";  // "host:port", "[v6]:port" or "host"; port 0 picks one
  // host:port that clients reach us at, after "https://" when they reach us
  // over HTTPS (implied when we serve it); empty: the bound address
  std::string public_host;
  std::size_t max_body = 8 * 1024 * 1024;
  // What the bodies being received may take together, all connections'.
  std::size_t max_body_memory = 64 * 1024 * 1024;
  // What one client address's bodies may take of it; 0: a quarter, and at
  // least max_body.
  std::size_t max_body_memory_per_address = 0;
  // What the pieces of stored files on their way to readers may take
  // together, a piece of each answer being sent; one address a quarter.
  std::size_t max_send_memory = 64 * 1024 * 1024;
  unsigned threads = 0;             // 0: one per core, at least 2 and at most 8
  std::size_t max_connections = 0;  // 0: as many as there are descriptors
  std::size_t max_connections_per_address = 64;
  // Of one address's connections, how many may be in a TLS handshake, and
  // how many receiving a body, at once: the states a client can make last.
  std::size_t max_handshakes_per_address = 8;
  std::size_t max_bodies_per_address = 8;
  // How long a client may take to finish its TLS handshake.
  unsigned handshake_timeout_seconds = 5;
  // How long a connection may wait idle for its next request, and for the
  // client to take more of an answer.
  unsigned idle_timeout_seconds = 60;
  // How long a request's header may take to arrive, from the connection's
  // start or from the first byte of a later request.
  unsigned header_timeout_seconds = 10;
  // Requests one connection may carry; its last answer closes it, so that
  // no client holds one connection and its worker's attention for ever.
  std::size_t max_requests_per_connection = 1000;
  // A body slower than this on average over a few seconds ends the
  // connection.
  std::size_t min_body_rate = 1024;  // bytes per second
  // However steadily it comes, a body not whole this long after its header
  // ends the connection.
  unsigned body_timeout_seconds = 300;
  // A client that takes less of an answer than this a second, over every
  // ten seconds, is cut off.
  std::size_t min_send_rate = 1024;
  std::vector<std::filesystem::path> asset_dirs;
  // The maker in the browser's files, and the styles' artwork it shows;
  // no folder: the maker is not served.
  std::filesystem::path maker_dir;
  std::filesystem::path artwork_dir;
  // Peers whose X-Forwarded-For names the real client (our reverse proxies).
  std::vector<std::string> trusted_proxies;
  // Per client address, a lane for each kind of work: so many a minute, and
  // so many at once. Claims and stores guard names; lookups of what a machine
  // identifier owns are how identifiers would be guessed; a preview of the
  // maker in the browser follows each pause in her typing; anyone may send
  // a report; a visit sends one opening and an answer or two.
  RateLanes rates = DefaultRates();
  // Bytes of pages and previews one client address may have read from the
  // database a second, past the cache, and at once: each costs a database
  // read and a copy however cheap the request. 0: no limit.
  std::size_t page_reads_per_second = 8 * 1024 * 1024;
  std::size_t page_read_burst = 32 * 1024 * 1024;
  // The operator's address for abuse, named by security.txt and the report
  // form ("mailto:…" or "https://…"); empty: the form alone.
  std::string abuse_contact;
  // Who may frame the site's pages (the page policy's frame-ancestors).
  std::string frame_ancestors = "'none'";
  // Over HTTPS, answers tell browsers to use only HTTPS for this long; 0:
  // they are not told.
  unsigned hsts_seconds = 0;
  // Both set: HTTPS with this certificate chain and key (PEM), read again on
  // SIGHUP.
  std::filesystem::path tls_certificate;
  std::filesystem::path tls_key;
  // Threads that use the storage: reads, and writes. SQLite lets one writer
  // in at a time; PostgreSQL lets the writes of different pages overlap.
  unsigned storage_readers = 2;
  unsigned storage_writers = 1;
  MediaLimits media;
  PageLimits pages;
};

// HTTP/1.1 server of the publishing site: the form endpoint, published pages,
// page assets and the two site pages. Binds in the constructor (throwing
// std::runtime_error when it cannot) and serves in Run().
class HttpServer {
 public:
  HttpServer(ServerConfig config, Stores storage);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The bound address, "host:port", with the real port when 0 was asked for.
  std::string LocalAddress() const;
  // "https" or "http".
  std::string_view Scheme() const;

  // Serves until Stop() or SIGINT/SIGTERM, then lets requests in progress
  // finish (for at most a few seconds) and returns. Over HTTPS, SIGHUP reads
  // the certificate and key again for the connections that follow; a pair
  // that does not work is refused with a log line and the current one kept.
  void Run();
  // Thread-safe; may be called before Run().
  void Stop();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace heartpage::server
