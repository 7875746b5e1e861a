#include "server/session.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <type_traits>

#include "server/http_util.h"
#include "server/page_file.h"

namespace heartpage::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::size_t kHeaderLimit = 16 * 1024;
constexpr std::size_t kDrainLimit = 64 * 1024 * 1024;

// One connection: reads requests one after another, has each turned into an
// answer and writes it, and watches the time the client takes meanwhile.
template <class Stream>
class Session final : public Connection, public std::enable_shared_from_this<Session<Stream>> {
 public:
  Session(Stream&& stream, std::shared_ptr<ServerShared> shared)
      : stream_(std::move(stream)), shared_(std::move(shared)) {}
  ~Session() override { shared_->Forget(this); }

  void Start() {
    shared_->Add(this, this->weak_from_this());
    asio::dispatch(Executor(), [self = this->shared_from_this()] { self->Read(); });
  }

  void StopIfIdle() override {
    if (reading_ && parser_ && !parser_->got_some()) Close();
  }

  void CloseIfExpired(Clock::time_point now) override {
    if (now > deadline_) Close();
  }

  asio::io_context::executor_type Executor() override { return Lowest().get_executor(); }

 private:
  // Pages go from their file to the socket inside the kernel only where
  // the bytes are written to the socket as they are.
  static constexpr bool kZeroCopy = std::is_same_v<Stream, Socket>;

  Socket& Lowest() { return beast::get_lowest_layer(stream_); }

  std::chrono::seconds IdleTimeout() const {
    return std::chrono::seconds(shared_->config.idle_timeout_seconds);
  }

  void Read() {
    if (shared_->stopping) return Close();
    parser_.emplace();
    parser_->body_limit(shared_->config.max_body);
    parser_->header_limit(kHeaderLimit);
    reading_ = true;
    deadline_ = Clock::now() + IdleTimeout();
    http::async_read_header(
        stream_, buffer_, *parser_,
        beast::bind_front_handler(&Session::OnHeader, this->shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    if (ec) return OnRead(ec, 0);
    started_ = Clock::now();
    // Clients that ask before sending a body are told to go ahead, unless
    // the body is refused anyway.
    const auto& header = parser_->get();
    if (EqualsIgnoringCase(header[http::field::expect], "100-continue") && !parser_->is_done()) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      asio::async_write(stream_, asio::buffer(kContinue),
                        [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
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
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnRead, this->shared_from_this()));
  }

  void OnRead(beast::error_code ec, std::size_t) {
    reading_ = false;
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted) return Close();
    if (ec == http::error::body_limit) {
      const auto& header = parser_->get();
      method_ = std::string(header.method_string());
      target_ = std::string(header.target());
      return Send(PlainResponse(header.version(), false, http::status::payload_too_large,
                                "request body too large"),
                  true);
    }
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::partial_message) {
      // Malformed HTTP: answer once, then hang up.
      method_ = "-";
      target_ = "-";
      return Send(PlainResponse(11, false, http::status::bad_request, "malformed request"), true);
    }
    if (ec) return Close();  // timeout, reset, a body cut off: nothing to answer
    if (started_ == Clock::time_point{}) started_ = Clock::now();
    Request request = parser_->release();
    method_ = std::string(request.method_string());
    target_ = std::string(request.target());
    // A stopping server answers what it has read, then hangs up.
    if (shared_->stopping) request.keep_alive(false);
    Send(HandleRequest(request, shared_->site));
  }

  // `drain`: the request's body may still be arriving; swallow it for a
  // moment after answering.
  void Send(Response&& response, bool drain = false) {
    status_ = StatusOf(response);
    body_bytes_ = BodyBytesOf(response);
    deadline_ = Clock::now() + IdleTimeout();
    std::visit([this, drain](auto& message) { Write(std::move(message), drain); }, response);
  }

  template <class Body>
  void Write(http::response<Body>&& response, bool drain) {
    auto message = std::make_shared<http::response<Body>>(std::move(response));
    const bool keep_alive = message->keep_alive();
    http::async_write(
        stream_, *message,
        [self = this->shared_from_this(), message, keep_alive, drain](
            beast::error_code ec, std::size_t) { self->OnWrite(ec, keep_alive, drain); });
  }

  void Write(PageResponse&& response, bool) {
    page_ = std::move(response);
    if constexpr (kZeroCopy) {
      if (page_.page->file.valid()) {
        Socket& socket = Lowest();
        if (!socket.native_non_blocking()) {
          beast::error_code ec;
          socket.native_non_blocking(true, ec);
          if (ec) return FinishPage(ec);
        }
        page_sender_ = PageSender(page_.head, page_.page->file, page_.page->bytes.size());
        return PumpPage();
      }
    }
    const std::array<asio::const_buffer, 2> buffers = {asio::buffer(page_.head),
                                                       asio::buffer(page_.page->bytes)};
    asio::async_write(stream_, buffers,
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                        self->FinishPage(ec);
                      });
  }

  void PumpPage() {
    const int error = page_sender_.SendSome(Lowest().native_handle());
    if (error == EAGAIN) {
      Lowest().async_wait(Socket::wait_write,
                          [self = this->shared_from_this()](beast::error_code ec) {
                            if (ec) return self->FinishPage(ec);
                            self->PumpPage();
                          });
      return;
    }
    FinishPage(error == 0 ? beast::error_code()
                          : beast::error_code(error, beast::system_category()));
  }

  void FinishPage(beast::error_code ec) {
    const bool keep_alive = page_.keep_alive;
    page_ = {};
    OnWrite(ec, keep_alive, false);
  }

  void OnWrite(beast::error_code ec, bool keep_alive, bool drain) {
    shared_->Log(method_, target_, status_, body_bytes_, started_);
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
    Lowest().shutdown(Socket::shutdown_send, ignored);
    deadline_ = Clock::now() + std::chrono::seconds(2);
    drain_buffer_.resize(64 * 1024);
    DrainSome();
  }
  void DrainSome() {
    stream_.async_read_some(
        asio::buffer(drain_buffer_),
        [self = this->shared_from_this()](beast::error_code ec, std::size_t bytes) {
          self->drained_ += bytes;
          if (ec || self->drained_ > kDrainLimit) return self->Close();
          self->DrainSome();
        });
  }

  void Close() {
    beast::error_code ignored;
    Lowest().shutdown(Socket::shutdown_both, ignored);
    Lowest().close(ignored);
  }

  Stream stream_;
  std::shared_ptr<ServerShared> shared_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  bool reading_ = false;
  Clock::time_point deadline_ = Clock::time_point::max();
  Clock::time_point started_{};
  std::string method_;
  std::string target_;
  unsigned status_ = 0;
  std::size_t body_bytes_ = 0;
  PageResponse page_;
  PageSender page_sender_;
  std::vector<char> drain_buffer_;
  std::size_t drained_ = 0;
};

}  // namespace

ServerShared::ServerShared(ServerConfig config, Storage& storage)
    : config(std::move(config)), site{storage, this->config.public_host, this->config.asset_dirs} {}

void ServerShared::Add(Connection* connection, std::weak_ptr<Connection> handle) {
  std::lock_guard lock(mutex_);
  connections_.emplace(connection, std::move(handle));
}

void ServerShared::Forget(Connection* connection) {
  bool all_gone = false;
  {
    std::lock_guard lock(mutex_);
    connections_.erase(connection);
    all_gone = stopping && connections_.empty();
  }
  if (all_gone && on_all_gone) on_all_gone();
}

std::vector<std::shared_ptr<Connection>> ServerShared::Open() {
  std::vector<std::shared_ptr<Connection>> open;
  std::lock_guard lock(mutex_);
  open.reserve(connections_.size());
  for (auto& [raw, weak] : connections_)
    if (auto connection = weak.lock()) open.push_back(std::move(connection));
  return open;
}

void ServerShared::Log(std::string_view method, std::string_view target, unsigned status,
                       std::size_t bytes, Clock::time_point started) {
  const double ms = started == Clock::time_point{}
                        ? 0.0
                        : std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  char line[512];
  std::snprintf(line, sizeof line, "%.*s %.300s %u %zu %.2fms\n", static_cast<int>(method.size()),
                method.data(), LoggablePath(target).c_str(), status, bytes, ms);
  log_.Write(line);
}

void StartSession(Socket&& socket, std::shared_ptr<ServerShared> shared) {
  std::make_shared<Session<Socket>>(std::move(socket), std::move(shared))->Start();
}

}  // namespace heartpage::server
