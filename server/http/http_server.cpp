#include "server/http/http_server.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "server/http/descriptors.h"
#include "server/http/listen_address.h"
#include "server/http/session.h"
#include "server/http/tls.h"
#include "server/site/common/client_address.h"
#include "server/site/files/media.h"

namespace heartpage::server {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using error_code = boost::system::error_code;

namespace {

constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kSweepInterval = std::chrono::seconds(1);
// Files no page uses are looked for a minute after the start, then hourly,
// on a storage thread.
constexpr unsigned kFirstMediaSweep = 60;
constexpr unsigned kMediaSweepEvery = 3600;
// How long accepting pauses when descriptors (or memory) run out, rather
// than retry at once and spin.
constexpr auto kAcceptBackoff = std::chrono::milliseconds(50);
// Clients turned away in one go, so that a flood cannot hold up the thread.
constexpr int kTurnAwayBatch = 256;

// The whole answer to a connection over a limit, sent as it is accepted.
constexpr std::string_view kTooManyConnections =
    "HTTP/1.1 503 Service Unavailable\r\n"
    "Server: heartpage-server\r\n"
    "Content-Type: text/plain; charset=utf-8\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Retry-After: 5\r\n"
    "Connection: close\r\n"
    "Content-Length: 21\r\n"
    "\r\n"
    "too many connections\n";
static_assert(NamesTheServer(kTooManyConnections));

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
  Impl(ServerConfig config, Stores storage)
      : shared(std::make_shared<ServerShared>(std::move(config), storage)),
        contexts(MakeContexts(shared->config.threads)),
        acceptor(*contexts[0]),
        signals(*contexts[0], SIGINT, SIGTERM),
        reload(*contexts[0]),
        deadline(*contexts[0]),
        sweep(*contexts[0]),
        backoff(*contexts[0]) {
    for (auto& context : contexts) guards.emplace_back(context->get_executor());
    shared->workers = &workers;
    shared->code_workers = &code_workers;
  }

  // What a connection over a limit is told as it is accepted. A TLS client
  // could not read plain text (it would see a broken handshake): it is only
  // closed.
  std::string_view Refusal() const { return tls ? std::string_view() : kTooManyConnections; }
  void Accept();
  void OnAccept(error_code ec, const std::shared_ptr<Socket>& socket);
  void Sweep();
  void AwaitReload();
  void BeginStop();

  std::shared_ptr<ServerShared> shared;
  std::vector<std::unique_ptr<asio::io_context>> contexts;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> guards;
  std::size_t next_context = 0;
  tcp::acceptor acceptor;
  asio::signal_set signals;
  asio::signal_set reload;
  // Null for plain HTTP. Used and replaced on the first context only; a
  // connection keeps the one it started with.
  std::shared_ptr<asio::ssl::context> tls;
  asio::steady_timer deadline;
  asio::steady_timer sweep;
  // Declared after the contexts, so it is gone first: its last jobs post
  // their answers to contexts that still exist.
  StorageWorkers workers{
      {.readers = shared->config.storage_readers, .writers = shared->config.storage_writers}};
  // Its jobs talk to the storage too, so it goes before the storage does.
  CodeWorkers code_workers{{}};
  asio::steady_timer backoff;
  tcp::endpoint peer;  // of the connection being accepted
  SpareDescriptor spare;
  unsigned media_sweep_in = kFirstMediaSweep;  // seconds
};

void HttpServer::Impl::Accept() {
  asio::io_context& context = *contexts[next_context++ % contexts.size()];
  auto socket = std::make_shared<Socket>(context.get_executor());
  acceptor.async_accept(*socket, peer, [self = shared_from_this(), socket](error_code ec) {
    if (ec == asio::error::operation_aborted || !self->acceptor.is_open()) return;
    self->OnAccept(ec, socket);
  });
}

void HttpServer::Impl::OnAccept(error_code ec, const std::shared_ptr<Socket>& socket) {
  if (ec) {
    if (ec == asio::error::no_descriptors ||
        ec == boost::system::errc::too_many_files_open_in_system) {
      // Out of descriptors: the spare one makes room to take the waiting
      // clients one at a time and tell them, instead of leaving them queued.
      spare.Release();
      for (int i = 0; i < kTurnAwayBatch && TurnAway(acceptor.native_handle(), Refusal()); ++i)
        ++shared->refused;
      spare.Retake();
    }
    backoff.expires_after(kAcceptBackoff);
    backoff.async_wait([self = shared_from_this()](error_code wait_error) {
      if (!wait_error && self->acceptor.is_open()) self->Accept();
    });
    return;
  }
  const ConnectionTable::Admission admission =
      shared->connections.Admit(peer.address(), tls != nullptr);
  if (admission.verdict != ConnectionTable::Verdict::kAdmitted) {
    const std::string_view refusal = Refusal();
    SendNow(socket->native_handle(), refusal);
    error_code ignored;
    socket->close(ignored);
    ++shared->refused;
    const std::string_view why = admission.verdict == ConnectionTable::Verdict::kTooManyHandshakes
                                     ? "too many TLS handshakes"
                                     : "too many connections";
    shared->Log({"-",
                 "-",
                 503,
                 refusal.empty() ? 0 : why.size() + 1,
                 {},
                 CanonicalAddress(peer.address().to_string()),
                 nullptr,
                 why});
  } else {
    if (admission.evict)
      asio::post(admission.evict->Executor(),
                 [evict = admission.evict] { evict->CloseIfPicked(); });
    error_code ignored;
    socket->set_option(tcp::no_delay(true), ignored);
    if (tls)
      StartTlsSession(std::move(*socket), tls, shared, peer.address());
    else
      StartSession(std::move(*socket), shared, peer.address());
  }
  Accept();
}

// Once a second, every connection past its deadline is closed: cheaper than
// a timer armed and cancelled for every read and write.
void HttpServer::Impl::Sweep() {
  sweep.expires_after(kSweepInterval);
  sweep.async_wait([self = shared_from_this()](error_code ec) {
    if (ec || self->shared->stopping) return;
    if (const std::uint64_t refused = self->shared->refused.exchange(0))
      self->shared->Note("turned away " + std::to_string(refused) +
                         " connection(s): over a connection limit, or out of descriptors");
    const Clock::time_point now = Clock::now();
    for (auto& connection : self->shared->Open())
      asio::post(connection->Executor(), [connection, now] { connection->CloseIfExpired(now); });
    if (--self->media_sweep_in == 0) {
      self->media_sweep_in = kMediaSweepEvery;
      self->workers.Submit(StorageWorkers::Lane::kWrite, [shared = self->shared] {
        try {
          shared->Note(
              SweepUnusedMedia(shared->site.storage.media, shared->site.media, std::time(nullptr)));
        } catch (const std::exception& error) {
          shared->Note(std::string("media sweep failed, tried again later: ") + error.what());
        }
      });
    }
    self->Sweep();
  });
}

void HttpServer::Impl::AwaitReload() {
  reload.async_wait([self = shared_from_this()](error_code ec, int) {
    if (ec) return;
    const ServerConfig& config = self->shared->config;
    if (!self->tls) {
      // An operator's reload (or a stray hang-up) must never end a server
      // that has nothing to read again.
      self->shared->Note("SIGHUP: no certificate in use, nothing to read again");
      return self->AwaitReload();
    }
    try {
      self->tls = LoadTlsContext(config.tls_certificate, config.tls_key);
      self->shared->Note("certificate " + config.tls_certificate.string() + " reloaded");
    } catch (const std::exception& error) {
      self->shared->Note(std::string("keeping the current certificate: ") + error.what());
    }
    self->AwaitReload();
  });
}

void HttpServer::Impl::BeginStop() {
  if (shared->stopping.exchange(true)) return;
  error_code ignored;
  acceptor.close(ignored);
  signals.cancel(ignored);
  reload.cancel(ignored);
  sweep.cancel();
  backoff.cancel();
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

HttpServer::HttpServer(ServerConfig config, Stores storage)
    : impl_(std::make_shared<Impl>(std::move(config), storage)) {
  ServerShared& shared = *impl_->shared;
  if (!shared.config.tls_certificate.empty())
    impl_->tls = LoadTlsContext(shared.config.tls_certificate, shared.config.tls_key);
  // From here on SIGHUP waits for Run() instead of ending the process.
  impl_->reload.add(SIGHUP);
  const tcp::endpoint endpoint = ResolveListen(*impl_->contexts[0], shared.config.listen);
  error_code ec;
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  // Turning clients away takes them from the queue without waiting.
  if (!ec) impl_->acceptor.native_non_blocking(true, ec);
  if (ec)
    throw std::runtime_error("cannot listen on " + shared.config.listen + ": " + ec.message());
  if (shared.config.public_host.empty()) shared.config.public_host = LocalAddress();
  // Addresses we hand out name the scheme clients reach us with.
  if (impl_->tls && shared.config.public_host.find("://") == std::string::npos)
    shared.config.public_host = "https://" + shared.config.public_host;
  shared.site.public_host = shared.config.public_host;
  shared.site.frame_ancestors = shared.config.frame_ancestors;
  shared.site.maker_files = &shared.maker_files;
  shared.site.pages = shared.config.pages;
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

std::string_view HttpServer::Scheme() const {
  return impl_->tls ? "https" : "http";
}

void HttpServer::Run() {
  impl_->signals.async_wait([impl = impl_](error_code ec, int) {
    if (!ec) impl->BeginStop();
  });
  impl_->AwaitReload();
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
  // A job finishing now would otherwise drop the last reference to a
  // connection, and through it to this server, on a storage thread, after
  // the storage itself is gone.
  impl_->code_workers.Stop();
  impl_->workers.Stop();
  impl_->shared->FlushLog();
}

void HttpServer::Stop() {
  asio::post(*impl_->contexts[0], [impl = impl_] { impl->BeginStop(); });
}

}  // namespace heartpage::server
