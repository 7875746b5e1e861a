#include "server/http_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "server/listen_address.h"
#include "server/session.h"

namespace heartpage::server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kSweepInterval = std::chrono::seconds(1);

// One io_context per worker thread, each connection living on one of them:
// no strands, and no handing of a connection's work between threads.
// The first context also runs the acceptor, the signals and the stop.
std::vector<std::unique_ptr<asio::io_context>> MakeContexts(unsigned threads) {
  if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
  std::vector<std::unique_ptr<asio::io_context>> contexts;
  for (unsigned i = 0; i < threads; ++i) contexts.push_back(std::make_unique<asio::io_context>(1));
  return contexts;
}

}  // namespace

// The listener: accepts connections and hands each to a context, closes those
// past their deadline, and stops.
struct HttpServer::Impl : std::enable_shared_from_this<HttpServer::Impl> {
  Impl(ServerConfig config, Storage& storage)
      : shared(std::make_shared<ServerShared>(std::move(config), storage)),
        contexts(MakeContexts(shared->config.threads)),
        acceptor(*contexts[0]),
        signals(*contexts[0], SIGINT, SIGTERM),
        deadline(*contexts[0]),
        sweep(*contexts[0]) {
    for (auto& context : contexts) guards.emplace_back(context->get_executor());
  }

  void Accept();
  void Sweep();
  void BeginStop();

  std::shared_ptr<ServerShared> shared;
  std::vector<std::unique_ptr<asio::io_context>> contexts;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> guards;
  std::size_t next_context = 0;
  tcp::acceptor acceptor;
  asio::signal_set signals;
  asio::steady_timer deadline;
  asio::steady_timer sweep;
};

void HttpServer::Impl::Accept() {
  asio::io_context& context = *contexts[next_context++ % contexts.size()];
  auto socket = std::make_shared<Socket>(context.get_executor());
  acceptor.async_accept(*socket, [self = shared_from_this(), socket](error_code ec) {
    if (ec == asio::error::operation_aborted || !self->acceptor.is_open()) return;
    if (!ec) {
      error_code ignored;
      socket->set_option(tcp::no_delay(true), ignored);
      StartSession(std::move(*socket), self->shared);
    }
    self->Accept();
  });
}

// Once a second, every connection past its deadline is closed: cheaper than
// a timer armed and cancelled for every read and write.
void HttpServer::Impl::Sweep() {
  sweep.expires_after(kSweepInterval);
  sweep.async_wait([self = shared_from_this()](error_code ec) {
    if (ec || self->shared->stopping) return;
    const Clock::time_point now = Clock::now();
    for (auto& connection : self->shared->Open())
      asio::post(connection->Executor(), [connection, now] { connection->CloseIfExpired(now); });
    self->Sweep();
  });
}

void HttpServer::Impl::BeginStop() {
  if (shared->stopping.exchange(true)) return;
  error_code ignored;
  acceptor.close(ignored);
  signals.cancel(ignored);
  sweep.cancel();
  // Contexts end when their last connection has gone.
  for (auto& guard : guards) guard.reset();
  const std::vector<std::shared_ptr<Connection>> open = shared->Open();
  if (open.empty()) return;
  deadline.expires_after(kStopGrace);
  deadline.async_wait([self = shared_from_this()](error_code ec) {
    if (!ec)
      for (auto& context : self->contexts) context->stop();
  });
  for (auto& connection : open)
    asio::post(connection->Executor(), [connection] { connection->StopIfIdle(); });
}

HttpServer::HttpServer(ServerConfig config, Storage& storage)
    : impl_(std::make_shared<Impl>(std::move(config), storage)) {
  ServerShared& shared = *impl_->shared;
  const tcp::endpoint endpoint = ResolveListen(*impl_->contexts[0], shared.config.listen);
  error_code ec;
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec)
    throw std::runtime_error("cannot listen on " + shared.config.listen + ": " + ec.message());
  if (shared.config.public_host.empty()) shared.config.public_host = LocalAddress();
  shared.site.public_host = shared.config.public_host;
  shared.on_all_gone = [weak = std::weak_ptr<Impl>(impl_)] {
    if (auto impl = weak.lock())
      asio::post(*impl->contexts[0], [impl] { impl->deadline.cancel(); });
  };
}

HttpServer::~HttpServer() = default;

std::string HttpServer::LocalAddress() const {
  const tcp::endpoint endpoint = impl_->acceptor.local_endpoint();
  const std::string host = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
         std::to_string(endpoint.port());
}

void HttpServer::Run() {
  impl_->signals.async_wait([impl = impl_](error_code ec, int) {
    if (!ec) impl->BeginStop();
  });
  asio::dispatch(*impl_->contexts[0], [impl = impl_] {
    if (impl->shared->stopping) return;
    impl->Accept();
    impl->Sweep();
  });
  std::vector<std::thread> workers;
  for (std::size_t i = 1; i < impl_->contexts.size(); ++i)
    workers.emplace_back([context = impl_->contexts[i].get()] { context->run(); });
  impl_->contexts[0]->run();
  for (std::thread& worker : workers) worker.join();
  impl_->shared->FlushLog();
}

void HttpServer::Stop() {
  asio::post(*impl_->contexts[0], [impl = impl_] { impl->BeginStop(); });
}

}  // namespace heartpage::server
