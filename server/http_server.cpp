#include "server/http_server.h"

#include <sys/socket.h>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "server/assets.h"
#include "server/endpoint.h"
#include "server/http_util.h"
#include "server/names.h"
#include "server/origin_check.h"
#include "server/request_log.h"
#include "server/site.h"

namespace heartpage::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;
// Each connection lives on one io_context: no type-erased executor needed.
using Socket = asio::basic_stream_socket<tcp, asio::io_context::executor_type>;

namespace {

constexpr auto kStopGrace = std::chrono::seconds(5);
constexpr auto kSweepInterval = std::chrono::seconds(1);
constexpr std::size_t kHeaderLimit = 16 * 1024;
constexpr std::size_t kDrainLimit = 64 * 1024 * 1024;
constexpr std::uint64_t kMaxRange = 8 * 1024 * 1024;
constexpr std::string_view kServerName = "heartpage-server";
// Scripts run, in an origin of their own; the page can neither send anything
// anywhere by script nor post a form.
constexpr std::string_view kPageSecurityPolicy =
    "sandbox allow-scripts allow-popups allow-modals; connect-src 'none'; form-action 'none'";

using Request = http::request<http::string_body>;
using StringResponse = http::response<http::string_body>;
using FileResponse = http::response<http::file_body>;
using PageResponse = http::response<http::span_body<const char>>;

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::ranges::equal(text.substr(0, prefix.size()), prefix, [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         });
}

// The Date header, formatted at most once a second per thread.
const std::string& CurrentDate() {
  thread_local std::time_t cached_at = 0;
  thread_local std::string text;
  const std::time_t now = std::time(nullptr);
  if (now != cached_at) {
    cached_at = now;
    text = FormatHttpDate(now);
  }
  return text;
}

// Pages are mostly asked for again and again: format their date once.
const std::string& LastModified(std::int64_t modified) {
  thread_local std::int64_t cached_for = -1;
  thread_local std::string text;
  if (modified != cached_for) {
    cached_for = modified;
    text = FormatHttpDate(modified);
  }
  return text;
}

// "host:port", "[v6]:port" or "host" (port 80).
tcp::endpoint ResolveListen(asio::io_context& ioc, const std::string& listen) {
  std::string host = listen;
  std::string port = "80";
  if (listen.starts_with('[')) {
    const std::size_t close = listen.find(']');
    if (close == std::string::npos) throw std::runtime_error("malformed address " + listen);
    host = listen.substr(1, close - 1);
    if (close + 1 < listen.size()) {
      if (listen[close + 1] != ':') throw std::runtime_error("malformed address " + listen);
      port = listen.substr(close + 2);
    }
  } else if (const std::size_t colon = listen.rfind(':'); colon != std::string::npos) {
    host = listen.substr(0, colon);
    port = listen.substr(colon + 1);
  }
  if (host.empty() || port.empty() ||
      !std::ranges::all_of(port, [](char c) { return c >= '0' && c <= '9'; }) || port.size() > 5 ||
      std::stoi(port) > 65535)
    throw std::runtime_error("malformed address " + listen);
  tcp::resolver resolver(ioc);
  beast::error_code ec;
  const auto results = resolver.resolve(host, port, tcp::resolver::numeric_service, ec);
  if (ec || results.empty())
    throw std::runtime_error("cannot resolve " + host + ": " + ec.message());
  return results.begin()->endpoint();
}

}  // namespace

class Session;

struct HttpServer::Impl : std::enable_shared_from_this<HttpServer::Impl> {
  // One io_context per worker thread, each connection living on one of them:
  // no strands, and no handing of a connection's work between threads.
  // The first context also runs the acceptor, the signals and the stop.
  static std::vector<std::unique_ptr<asio::io_context>> MakeContexts(unsigned threads) {
    if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    std::vector<std::unique_ptr<asio::io_context>> contexts;
    for (unsigned i = 0; i < threads; ++i)
      contexts.push_back(std::make_unique<asio::io_context>(1));
    return contexts;
  }

  Impl(ServerConfig config, Storage& storage)
      : config(std::move(config)),
        storage(storage),
        contexts(MakeContexts(this->config.threads)),
        acceptor(*contexts[0]),
        signals(*contexts[0], SIGINT, SIGTERM),
        deadline(*contexts[0]),
        sweep(*contexts[0]) {
    for (auto& context : contexts) guards.emplace_back(context->get_executor());
  }

  void Accept();
  void Sweep();
  void BeginStop();
  void Log(std::string_view method, std::string_view target, unsigned status, std::size_t bytes,
           Clock::time_point started);
  void Forget(Session* session);

  ServerConfig config;
  Storage& storage;
  std::vector<std::unique_ptr<asio::io_context>> contexts;
  std::vector<asio::executor_work_guard<asio::io_context::executor_type>> guards;
  std::size_t next_context = 0;
  tcp::acceptor acceptor;
  asio::signal_set signals;
  asio::steady_timer deadline;
  asio::steady_timer sweep;
  std::atomic<bool> stopping{false};

  std::mutex sessions_mutex;
  std::unordered_map<Session*, std::weak_ptr<Session>> sessions;
  RequestLog log{2};
};

namespace {

StringResponse TextResponse(const Request& request, http::status status, std::string body,
                            std::string_view content_type) {
  StringResponse response(status, request.version());
  response.set(http::field::server, kServerName);
  response.set(http::field::date, CurrentDate());
  response.set(http::field::content_type, content_type);
  response.body() = std::move(body);
  response.keep_alive(request.keep_alive());
  response.prepare_payload();
  return response;
}

StringResponse Plain(const Request& request, http::status status, std::string_view message) {
  return TextResponse(request, status, std::string(message) + "\n", "text/plain; charset=utf-8");
}

StringResponse MethodNotAllowed(const Request& request, std::string_view allowed) {
  StringResponse response = Plain(request, http::status::method_not_allowed, "method not allowed");
  response.set(http::field::allow, allowed);
  return response;
}

}  // namespace

// One connection: reads requests one after another and answers each in turn.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Socket&& socket, std::shared_ptr<HttpServer::Impl> server)
      : socket_(std::move(socket)), server_(std::move(server)) {}
  ~Session() { server_->Forget(this); }

  void Start() {
    {
      std::lock_guard lock(server_->sessions_mutex);
      server_->sessions.emplace(this, weak_from_this());
    }
    asio::dispatch(socket_.get_executor(), [self = shared_from_this()] { self->Read(); });
  }

  // On the session's thread: a connection waiting for its next request is
  // closed at once; one in the middle of a request finishes it first.
  void StopIfIdle() {
    if (reading_ && parser_ && !parser_->got_some()) Close();
  }

  // On the session's thread: a connection that has waited too long for the
  // client (idle, slow to send its request, slow to read our answer) ends.
  void CloseIfExpired(Clock::time_point now) {
    if (now > deadline_) Close();
  }

  asio::io_context::executor_type Executor() { return socket_.get_executor(); }

  std::chrono::seconds IdleTimeout() const {
    return std::chrono::seconds(server_->config.idle_timeout_seconds);
  }

 private:
  void Read() {
    if (server_->stopping) return Close();
    parser_.emplace();
    parser_->body_limit(server_->config.max_body);
    parser_->header_limit(kHeaderLimit);
    reading_ = true;
    head_request_ = false;
    deadline_ = Clock::now() + IdleTimeout();
    http::async_read_header(socket_, buffer_, *parser_,
                            beast::bind_front_handler(&Session::OnHeader, shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    if (ec) return OnRead(ec, 0);
    started_ = Clock::now();
    // Clients that ask before sending a body are told to go ahead, unless
    // the body is refused anyway.
    const auto& header = parser_->get();
    if (beast::iequals(header[http::field::expect], "100-continue") && !parser_->is_done()) {
      auto continue_line = std::make_shared<std::string>("HTTP/1.1 100 Continue\r\n\r\n");
      asio::async_write(
          socket_, asio::buffer(*continue_line),
          [self = shared_from_this(), continue_line](beast::error_code ec, std::size_t) {
            if (ec) return self->Close();
            self->ReadBody();
          });
      return;
    }
    ReadBody();
  }

  void ReadBody() {
    // Most requests (every GET) have no body: answer without another round
    // through the reactor.
    if (parser_->is_done()) return OnRead({}, 0);
    http::async_read(socket_, buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnRead, shared_from_this()));
  }

  void OnRead(beast::error_code ec, std::size_t) {
    reading_ = false;
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted) return Close();
    if (ec == http::error::body_limit) {
      const auto& header = parser_->get();
      Request request;
      request.version(header.version());
      request.keep_alive(false);
      method_ = std::string(header.method_string());
      target_ = std::string(header.target());
      return Send(Plain(request, http::status::payload_too_large, "request body too large"), true);
    }
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::partial_message) {
      // Malformed HTTP: answer once, then hang up.
      Request request;
      request.keep_alive(false);
      method_ = "-";
      target_ = "-";
      return Send(Plain(request, http::status::bad_request, "malformed request"), true);
    }
    if (ec) return Close();  // timeout, reset, a body cut off: nothing to answer
    if (started_ == Clock::time_point{}) started_ = Clock::now();
    Request request = parser_->release();
    head_request_ = request.method() == http::verb::head;
    method_ = std::string(request.method_string());
    target_ = std::string(request.target());
    Handle(request);
  }

  void Handle(const Request& request);
  void ServePage(const Request& request, std::string_view name);
  void ServeAsset(const Request& request, std::string_view path);

  // `owner` keeps alive what the body points into until it has been sent.
  template <typename Body>
  void Send(http::response<Body>&& response, bool drain = false,
            std::shared_ptr<const void> owner = nullptr) {
    if (server_->stopping) response.keep_alive(false);
    if constexpr (std::is_same_v<Body, http::string_body>) {
      // Whatever answers a HEAD, errors included, goes without its body.
      if (head_request_ && !response.body().empty()) {
        const std::size_t size = response.body().size();
        response.body().clear();
        response.content_length(size);
      }
    }
    auto message = std::make_shared<http::response<Body>>(std::move(response));
    status_ = message->result_int();
    body_bytes_ = static_cast<std::size_t>(message->body().size());
    const bool keep_alive = message->keep_alive();
    deadline_ = Clock::now() + IdleTimeout();
    http::async_write(
        socket_, *message,
        [self = shared_from_this(), message, owner = std::move(owner), keep_alive, drain](
            beast::error_code ec, std::size_t) { self->OnWrite(ec, keep_alive, drain); });
  }

  // A page that has a file is sent by the kernel straight from that file,
  // after its header: no copy of the page passes through this process.
  // `page_head_` holds the header.
  void SendPage(bool keep_alive, std::shared_ptr<const StoredPage> page) {
    page_head_sent_ = 0;
    page_offset_ = 0;
    page_ = std::move(page);
    page_keep_alive_ = keep_alive;
    status_ = 200;
    body_bytes_ = page_->bytes.size();
    if (!socket_.native_non_blocking()) {
      beast::error_code ec;
      socket_.native_non_blocking(true, ec);
      if (ec) return FinishPage(ec);
    }
    deadline_ = Clock::now() + IdleTimeout();
    PumpPage();
  }

  void PumpPage() {
    const int socket = socket_.native_handle();
    while (page_head_sent_ < page_head_.size()) {
      const ssize_t sent = ::send(socket, page_head_.data() + page_head_sent_,
                                  page_head_.size() - page_head_sent_, MSG_MORE | MSG_NOSIGNAL);
      if (sent < 0 && (errno == EAGAIN || errno == EINTR)) return WaitWritable();
      if (sent <= 0) return FinishPage(beast::error_code(errno, beast::system_category()));
      page_head_sent_ += static_cast<std::size_t>(sent);
    }
    const std::size_t size = page_->bytes.size();
    while (page_offset_ < size) {
      const long sent = page_->file.SendTo(socket, page_offset_, size - page_offset_);
      if (sent < 0 && (errno == EAGAIN || errno == EINTR)) return WaitWritable();
      if (sent <= 0) return FinishPage(beast::error_code(errno, beast::system_category()));
    }
    FinishPage({});
  }

  void WaitWritable() {
    socket_.async_wait(tcp::socket::wait_write, [self = shared_from_this()](beast::error_code ec) {
      if (ec) return self->FinishPage(ec);
      self->PumpPage();
    });
  }

  void FinishPage(beast::error_code ec) {
    page_.reset();
    OnWrite(ec ? ec : beast::error_code(), page_keep_alive_, false);
  }

  void OnWrite(beast::error_code ec, bool keep_alive, bool drain) {
    server_->Log(method_, target_, status_, body_bytes_, started_);
    started_ = {};
    if (ec) return Close();
    if (drain) return Drain();
    if (!keep_alive) return Close();
    Read();
  }

  // After refusing a request whose body is still arriving: stop sending and
  // swallow what comes for a moment, so the client reads our answer instead
  // of a connection reset.
  void Drain() {
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    deadline_ = Clock::now() + std::chrono::seconds(2);
    drain_buffer_.resize(64 * 1024);
    DrainSome();
  }
  void DrainSome() {
    socket_.async_read_some(asio::buffer(drain_buffer_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
                              self->drained_ += bytes;
                              if (ec || self->drained_ > kDrainLimit) return self->Close();
                              self->DrainSome();
                            });
  }

  void Close() {
    beast::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  Socket socket_;
  std::shared_ptr<HttpServer::Impl> server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool reading_ = false;
  Clock::time_point deadline_ = Clock::time_point::max();
  bool head_request_ = false;
  Clock::time_point started_{};
  std::string method_;
  std::string target_;
  unsigned status_ = 0;
  std::size_t body_bytes_ = 0;
  std::vector<char> drain_buffer_;
  std::shared_ptr<const StoredPage> page_;
  std::string page_head_;
  std::size_t page_head_sent_ = 0;
  std::size_t page_offset_ = 0;
  bool page_keep_alive_ = false;
  std::size_t drained_ = 0;
};

void Session::Handle(const Request& request) {
  const std::string_view target = request.target();
  const std::string_view path = target.substr(0, target.find('?'));
  const bool read_only =
      request.method() == http::verb::get || request.method() == http::verb::head;

  if (beast::iequals(path, "/asp/index.asp")) {
    if (request.method() != http::verb::post) return Send(MethodNotAllowed(request, "POST"));
    if (SentByWebPage(request))
      return Send(Plain(request, http::status::forbidden, "requests from web pages are refused"));
    EndpointReply reply;
    try {
      reply = HandleEndpoint(server_->storage, request.body(), server_->config.public_host);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "heartpage-server: storage error: %s\n", error.what());
      return Send(Plain(request, http::status::internal_server_error, "storage error"));
    }
    const std::string_view type =
        reply.status == 200 ? "text/plain; charset=gbk" : "text/plain; charset=utf-8";
    StringResponse response =
        TextResponse(request, static_cast<http::status>(reply.status), std::move(reply.body), type);
    response.set(http::field::cache_control, "no-store");
    return Send(std::move(response));
  }
  if (StartsWithIgnoringCase(path, "/Test/")) {
    if (!read_only) return Send(MethodNotAllowed(request, "GET, HEAD"));
    return ServePage(request, path.substr(6));
  }
  if (StartsWithIgnoringCase(path, "/biaobai/")) {
    if (!read_only) return Send(MethodNotAllowed(request, "GET, HEAD"));
    return ServeAsset(request, path.substr(9));
  }
  if (path == "/" || path == "/index.html" || path == "/download" || path == "/support") {
    if (!read_only) return Send(MethodNotAllowed(request, "GET, HEAD"));
    SiteSettings settings;
    try {
      settings = server_->storage.LoadSettings();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "heartpage-server: storage error: %s\n", error.what());
      return Send(Plain(request, http::status::internal_server_error, "storage error"));
    }
    const std::string& host = server_->config.public_host;
    StringResponse response = TextResponse(request, http::status::ok,
                                           path == "/download"  ? DownloadPage(settings, host)
                                           : path == "/support" ? SupportPage(settings, host)
                                                                : HomePage(settings, host),
                                           "text/html; charset=utf-8");
    response.set(http::field::cache_control, "no-cache");
    return Send(std::move(response));
  }
  Send(Plain(request, http::status::not_found, "not found"));
}

void Session::ServePage(const Request& request, std::string_view name) {
  if (!IsValidPageName(name)) return Send(Plain(request, http::status::not_found, "no such page"));
  std::shared_ptr<const StoredPage> page;
  try {
    page = server_->storage.LoadPage(PageNameKey(name));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "heartpage-server: storage error: %s\n", error.what());
    return Send(Plain(request, http::status::internal_server_error, "storage error"));
  }
  if (!page) return Send(Plain(request, http::status::not_found, "no such page"));

  const auto with_headers = [&](auto& response) {
    response.set(http::field::server, kServerName);
    response.set(http::field::date, CurrentDate());
    response.set(http::field::etag, page->etag);
    response.set(http::field::last_modified, FormatHttpDate(page->modified));
    response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    // The page runs in an origin of its own: its scripts work, but cannot
    // touch the publishing site or other people's pages.
    response.set("Content-Security-Policy", kPageSecurityPolicy);
    response.keep_alive(request.keep_alive());
  };
  if (NotModified(request[http::field::if_none_match], request[http::field::if_modified_since],
                  page->etag, page->modified)) {
    StringResponse response(http::status::not_modified, request.version());
    with_headers(response);
    return Send(std::move(response));
  }
  if (request.method() == http::verb::get && page->file.valid()) {
    // The busiest answer of the site, so its header is written directly,
    // the same fields as below.
    const bool keep_alive = request.keep_alive() && !server_->stopping;
    std::string& head = page_head_;
    head.clear();
    head += request.version() == 10 ? "HTTP/1.0 200 OK\r\n" : "HTTP/1.1 200 OK\r\n";
    head += "Server: heartpage-server\r\nDate: ";
    head += CurrentDate();
    head += "\r\nETag: ";
    head += page->etag;
    head += "\r\nLast-Modified: ";
    head += LastModified(page->modified);
    head +=
        "\r\nCache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n"
        "Content-Security-Policy: ";
    head += kPageSecurityPolicy;
    head += "\r\nContent-Type: text/html; charset=gbk\r\nContent-Length: ";
    head += std::to_string(page->bytes.size());
    if (!keep_alive) head += "\r\nConnection: close";
    if (keep_alive && request.version() == 10) head += "\r\nConnection: keep-alive";
    head += "\r\n\r\n";
    return SendPage(keep_alive, std::move(page));
  }
  PageResponse response(http::status::ok, request.version());
  with_headers(response);
  response.set(http::field::content_type, "text/html; charset=gbk");
  if (request.method() == http::verb::head) {
    response.content_length(page->bytes.size());
    return Send(std::move(response));
  }
  // The body points into the page, which `page` keeps alive while it is sent.
  response.body() = {page->bytes.data(), page->bytes.size()};
  response.prepare_payload();
  Send(std::move(response), false, std::move(page));
}

void Session::ServeAsset(const Request& request, std::string_view path) {
  const std::optional<std::filesystem::path> file = ResolveAsset(server_->config.asset_dirs, path);
  if (!file) return Send(Plain(request, http::status::not_found, "not found"));
  std::error_code fs_error;
  const auto write_time = std::filesystem::last_write_time(*file, fs_error);
  const auto size = std::filesystem::file_size(*file, fs_error);
  if (fs_error) return Send(Plain(request, http::status::not_found, "not found"));
  const std::int64_t modified = std::chrono::duration_cast<std::chrono::seconds>(
                                    std::chrono::file_clock::to_sys(write_time).time_since_epoch())
                                    .count();
  char etag[48];
  std::snprintf(etag, sizeof etag, "\"%jx-%jx\"", static_cast<std::uintmax_t>(size),
                static_cast<std::uintmax_t>(write_time.time_since_epoch().count()));

  const auto with_headers = [&](auto& response) {
    response.set(http::field::server, kServerName);
    response.set(http::field::date, CurrentDate());
    response.set(http::field::etag, etag);
    response.set(http::field::last_modified, FormatHttpDate(modified));
    response.set(http::field::cache_control, "public, max-age=86400");
    response.set(http::field::accept_ranges, "bytes");
    response.set("X-Content-Type-Options", "nosniff");
    response.keep_alive(request.keep_alive());
  };
  if (NotModified(request[http::field::if_none_match], request[http::field::if_modified_since],
                  etag, modified)) {
    StringResponse response(http::status::not_modified, request.version());
    with_headers(response);
    return Send(std::move(response));
  }
  if (request.method() == http::verb::head) {
    StringResponse response(http::status::ok, request.version());
    with_headers(response);
    response.set(http::field::content_type, MimeTypeOf(*file));
    response.content_length(size);
    return Send(std::move(response));
  }
  // Players of music and video ask for parts of a file. A stale If-Range
  // gets the whole file instead.
  const std::string_view if_range = request[http::field::if_range];
  const RangeRequest range = if_range.empty() || if_range == etag
                                 ? ParseRange(request[http::field::range], size)
                                 : RangeRequest{};
  if (range.kind != RangeRequest::Kind::kWhole) {
    const bool part = range.kind == RangeRequest::Kind::kPart;
    // At most kMaxRange bytes at a time; players ask again for the rest.
    const std::uint64_t last =
        part ? std::min(range.range.last, range.range.first + kMaxRange - 1) : 0;
    std::string bytes;
    if (part) {
      bytes.resize(last - range.range.first + 1);
      std::ifstream in(*file, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(range.range.first));
      if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
        return Send(Plain(request, http::status::not_found, "not found"));
    }
    StringResponse response(
        part ? http::status::partial_content : http::status::range_not_satisfiable,
        request.version());
    with_headers(response);
    response.set(http::field::content_type, MimeTypeOf(*file));
    response.set(http::field::content_range, part ? "bytes " + std::to_string(range.range.first) +
                                                        "-" + std::to_string(last) + "/" +
                                                        std::to_string(size)
                                                  : "bytes */" + std::to_string(size));
    response.body() = std::move(bytes);
    response.prepare_payload();
    return Send(std::move(response));
  }
  http::file_body::value_type body;
  beast::error_code ec;
  body.open(file->c_str(), beast::file_mode::scan, ec);
  if (ec) return Send(Plain(request, http::status::not_found, "not found"));
  FileResponse response(std::piecewise_construct, std::make_tuple(std::move(body)),
                        std::make_tuple(http::status::ok, request.version()));
  with_headers(response);
  response.set(http::field::content_type, MimeTypeOf(*file));
  response.prepare_payload();
  Send(std::move(response));
}

void HttpServer::Impl::Accept() {
  asio::io_context& context = *contexts[next_context++ % contexts.size()];
  auto socket = std::make_shared<Socket>(context.get_executor());
  acceptor.async_accept(*socket, [self = shared_from_this(), socket](beast::error_code ec) {
    if (ec == asio::error::operation_aborted || !self->acceptor.is_open()) return;
    if (!ec) {
      beast::error_code ignored;
      socket->set_option(tcp::no_delay(true), ignored);
      std::make_shared<Session>(std::move(*socket), self)->Start();
    }
    self->Accept();
  });
}

// Once a second, every connection past its deadline is closed: cheaper than
// a timer armed and cancelled for every read and write.
void HttpServer::Impl::Sweep() {
  sweep.expires_after(kSweepInterval);
  sweep.async_wait([self = shared_from_this()](beast::error_code ec) {
    if (ec || self->stopping) return;
    std::vector<std::shared_ptr<Session>> open;
    {
      std::lock_guard lock(self->sessions_mutex);
      for (auto& [raw, weak] : self->sessions)
        if (auto session = weak.lock()) open.push_back(std::move(session));
    }
    const Clock::time_point now = Clock::now();
    for (auto& session : open)
      asio::post(session->Executor(), [session, now] { session->CloseIfExpired(now); });
    self->Sweep();
  });
}

void HttpServer::Impl::BeginStop() {
  if (stopping.exchange(true)) return;
  beast::error_code ignored;
  acceptor.close(ignored);
  signals.cancel(ignored);
  sweep.cancel();
  // Contexts end when their last connection has gone.
  for (auto& guard : guards) guard.reset();
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard lock(sessions_mutex);
    for (auto& [raw, weak] : sessions)
      if (auto session = weak.lock()) open.push_back(std::move(session));
  }
  if (open.empty()) return;
  deadline.expires_after(kStopGrace);
  deadline.async_wait([self = shared_from_this()](beast::error_code ec) {
    if (!ec)
      for (auto& context : self->contexts) context->stop();
  });
  for (auto& session : open) asio::post(session->Executor(), [session] { session->StopIfIdle(); });
}

void HttpServer::Impl::Forget(Session* session) {
  std::lock_guard lock(sessions_mutex);
  sessions.erase(session);
  if (stopping && sessions.empty())
    asio::post(*contexts[0], [self = shared_from_this()] { self->deadline.cancel(); });
}

void HttpServer::Impl::Log(std::string_view method, std::string_view target, unsigned status,
                           std::size_t bytes, Clock::time_point started) {
  const double ms = started == Clock::time_point{}
                        ? 0.0
                        : std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  char line[512];
  std::snprintf(line, sizeof line, "%.*s %.300s %u %zu %.2fms\n", static_cast<int>(method.size()),
                method.data(), LoggablePath(target).c_str(), status, bytes, ms);
  log.Write(line);
}

HttpServer::HttpServer(ServerConfig config, Storage& storage)
    : impl_(std::make_shared<Impl>(std::move(config), storage)) {
  const tcp::endpoint endpoint = ResolveListen(*impl_->contexts[0], impl_->config.listen);
  beast::error_code ec;
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec)
    throw std::runtime_error("cannot listen on " + impl_->config.listen + ": " + ec.message());
  if (impl_->config.public_host.empty()) impl_->config.public_host = LocalAddress();
}

HttpServer::~HttpServer() = default;

std::string HttpServer::LocalAddress() const {
  const tcp::endpoint endpoint = impl_->acceptor.local_endpoint();
  const std::string host = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + host + "]" : host) + ":" +
         std::to_string(endpoint.port());
}

void HttpServer::Run() {
  impl_->signals.async_wait([impl = impl_](beast::error_code ec, int) {
    if (!ec) impl->BeginStop();
  });
  asio::dispatch(*impl_->contexts[0], [impl = impl_] {
    if (impl->stopping) return;
    impl->Accept();
    impl->Sweep();
  });
  std::vector<std::thread> workers;
  for (std::size_t i = 1; i < impl_->contexts.size(); ++i)
    workers.emplace_back([context = impl_->contexts[i].get()] { context->run(); });
  impl_->contexts[0]->run();
  for (std::thread& worker : workers) worker.join();
  impl_->log.Flush();
}

void HttpServer::Stop() {
  asio::post(*impl_->contexts[0], [impl = impl_] { impl->BeginStop(); });
}

}  // namespace heartpage::server
