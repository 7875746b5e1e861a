#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/storage.h"

namespace heartpage::server {

struct ServerConfig {
  std::string listen = "127.0.0.1:8936";  // "host:port", "[v6]:port" or "host"; port 0 picks one
  std::string public_host;  // host:port that clients reach us at; empty: the bound address
  std::size_t max_body = 8 * 1024 * 1024;
  unsigned threads = 0;  // 0: one per core, at least 2 and at most 8
  // How long a connection may wait for the client: idle between requests,
  // sending one request, or reading one answer.
  unsigned idle_timeout_seconds = 60;
  std::vector<std::filesystem::path> asset_dirs;
};

// HTTP/1.1 server of the publishing site: the form endpoint, published pages,
// page assets and the two site pages. Binds in the constructor (throwing
// std::runtime_error when it cannot) and serves in Run().
class HttpServer {
 public:
  HttpServer(ServerConfig config, Storage& storage);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // The bound address, "host:port", with the real port when 0 was asked for.
  std::string LocalAddress() const;

  // Serves until Stop() or SIGINT/SIGTERM, then lets requests in progress
  // finish (for at most a few seconds) and returns.
  void Run();
  // Thread-safe; may be called before Run().
  void Stop();

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace heartpage::server
