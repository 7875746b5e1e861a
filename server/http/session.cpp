#include "server/http/session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>

#include "protocol/wire.h"
#include "server/http/client_address.h"
#include "server/http/descriptors.h"
#include "server/site/http_util.h"
#include "server/site/media.h"
#include "server/site/media_body.h"
#include "server/http/page_sender.h"

namespace heartpage::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::size_t kHeaderLimit = 16 * 1024;
constexpr std::size_t kDrainLimit = 64 * 1024 * 1024;
// The storage queue was full: by the time the client asks again it has most
// likely moved on.
constexpr std::chrono::seconds kQueueFullRetry{1};
constexpr auto kClosingTime = std::chrono::seconds(2);

using TlsStream = asio::ssl::stream<Socket>;

// What a client that speaks plain HTTP to the HTTPS port reads.
constexpr std::string_view kPlainHttpRefusal =
    "HTTP/1.1 400 Bad Request\r\nServer: heartpage-server\r\n"
    "Content-Type: text/plain; charset=utf-8\r\nContent-Length: 26\r\n"
    "Connection: close\r\n\r\nthis address speaks HTTPS\n";
constexpr std::string_view kPlainHttpRefusalBody =
    kPlainHttpRefusal.substr(kPlainHttpRefusal.find("\r\n\r\n") + 4);
static_assert(kPlainHttpRefusalBody.size() == 26, "Content-Length of the refusal");
// A body must keep coming: the minimum rate's worth of bytes in every such
// window.
constexpr auto kBodyWindow = std::chrono::seconds(5);
// A reading buffer grown past this by a body is given back after it.
constexpr std::size_t kKeptBuffer = 16 * 1024;
constexpr std::string_view kRetryAfterSeconds = "5";
constexpr std::string_view kBusy = "server busy, try again later";

const beast::error_code kOverBudget = make_error_code(boost::system::errc::not_enough_memory);

std::int64_t Ticks(Clock::time_point time) {
  return time.time_since_epoch().count();
}

// What makes a request's length uncertain, or which a proxy in front of us
// could read as a different request: refused, so that no request can hide in
// another's body.
std::optional<std::string_view> FramingProblem(const http::request_header<>& header) {
  const auto encodings = header.equal_range(http::field::transfer_encoding);
  if (const auto count = std::distance(encodings.first, encodings.second);
      count > 1 || (count == 1 && !EqualsIgnoringCase(encodings.first->value(), "chunked")))
    return "unsupported transfer encoding";
  const std::size_t hosts = header.count(http::field::host);
  if (hosts > 1 || (hosts == 0 && header.version() >= 11)) return "one Host header needed";
  return std::nullopt;
}

// The header as the serializer would write it.
std::string HeaderText(const http::response_header<>& header) {
  std::string text = "HTTP/1." + std::to_string(header.version() % 10) + " " +
                     std::to_string(header.result_int()) + " " + std::string(header.reason()) +
                     "\r\n";
  for (const auto& field : header) {
    text += field.name_string();
    text += ": ";
    text += field.value();
    text += "\r\n";
  }
  text += "\r\n";
  return text;
}

// One connection: reads requests one after another, has each turned into an
// answer and writes it, and watches the time the client takes meanwhile.
template <class Stream>
class Session final : public Connection, public std::enable_shared_from_this<Session<Stream>> {
 public:
  // `keep` is kept alive as long as the stream, which is made of `args`.
  template <class... Args>
  Session(std::shared_ptr<ServerShared> shared, const boost::asio::ip::address& peer,
          std::shared_ptr<const void> keep, Args&&... args)
      : keep_(std::move(keep)),
        stream_(std::forward<Args>(args)...),
        shared_(std::move(shared)),
        peer_(peer),
        body_hold_(shared_->body_budget),
        peer_text_(CanonicalAddress(peer.to_string())) {}
  ~Session() override {
    body_hold_.Release();
    shared_->Forget(this);
  }

  void Start() {
    shared_->Add(this, this->weak_from_this(), peer_);
    asio::dispatch(Executor(), [self = this->shared_from_this()] {
      // The first request's header (and before it, over TLS, the handshake)
      // is due soon after the connection opens.
      if constexpr (kTls)
        self->Handshake();
      else
        self->Read(Clock::now() + self->HeaderTimeout());
    });
  }

  void StopIfIdle() override {
    if (handshaking_ || (phase_ == Phase::kWaiting && parser_ && !parser_->got_some())) Close();
  }

  void CloseIfExpired(Clock::time_point now) override {
    if (phase_ == Phase::kWaiting && parser_ && !header_begun_ &&
        (buffer_.size() > 0 || parser_->got_some())) {
      // The next request has begun: its header is due soon.
      header_begun_ = true;
      deadline_ = std::min(deadline_, now + HeaderTimeout());
    }
    if (phase_ == Phase::kBody && now >= window_end_) {
      const std::size_t received =
          (media_parser_ ? media_parser_->get().body()->size() : parser_->get().body().size()) +
          buffer_.size();
      const std::size_t window_seconds = std::chrono::seconds(kBodyWindow).count();
      if (received - window_start_bytes_ < shared_->config.min_body_rate * window_seconds)
        return Close();
      window_end_ = now + kBodyWindow;
      window_start_bytes_ = received;
    }
    if (phase_ == Phase::kWriting) {
      // The kernel holds megabytes for a connection and tells us only when
      // half of it has gone: a slow reader moves the queue long before that.
      const std::size_t queued = QueuedBytes(Lowest().native_handle());
      if (queued < queued_) deadline_ = std::max(deadline_, now + IdleTimeout());
      queued_ = queued;
    }
    if (now > deadline_) Close();
  }

  void CloseIfPicked() override {
    if (phase_ == Phase::kWaiting && waiting_since.load() == kPicked) Close();
  }

  asio::io_context::executor_type Executor() override { return Lowest().get_executor(); }

 private:
  // Where the connection is, for the deadlines: waiting for a request (and
  // its header), receiving a body, having it answered, sending the answer,
  // swallowing what a refused client still sends.
  enum class Phase { kWaiting, kBody, kAnswering, kWriting, kDraining };

  // Pages go from their file to the socket inside the kernel only where
  // the bytes are written to the socket as they are.
  static constexpr bool kZeroCopy = std::is_same_v<Stream, Socket>;
  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

  Socket& Lowest() { return beast::get_lowest_layer(stream_); }

  std::chrono::seconds IdleTimeout() const {
    return std::chrono::seconds(shared_->config.idle_timeout_seconds);
  }
  std::chrono::seconds HeaderTimeout() const {
    return std::chrono::seconds(shared_->config.header_timeout_seconds);
  }

  // The handshake has the same deadline as a request.
  void Handshake() {
    handshaking_ = true;
    deadline_ = Clock::now() + HeaderTimeout();
    stream_.async_handshake(asio::ssl::stream_base::server,
                            [self = this->shared_from_this()](beast::error_code ec) {
                              self->handshaking_ = false;
                              if (!ec) return self->Read(self->deadline_);
                              if (ec.category() == asio::error::get_ssl_category() &&
                                  ERR_GET_REASON(ec.value()) == SSL_R_HTTP_REQUEST)
                                return self->RefusePlainHttp();
                              self->Close();
                            });
  }

  // A browser sent to http:// on this port learns why nothing works.
  void RefusePlainHttp() {
    deadline_ = Clock::now() + IdleTimeout();
    asio::async_write(Lowest(), asio::buffer(kPlainHttpRefusal),
                      [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                        self->shared_->Log({"-",
                                            "-",
                                            400,
                                            kPlainHttpRefusalBody.size(),
                                            {},
                                            self->peer_text_,
                                            nullptr,
                                            "plain HTTP to the HTTPS port"});
                        if (ec) return self->Close();
                        self->drain_raw_ = true;
                        self->Drain();
                      });
  }

  void Read(Clock::time_point deadline) {
    if (shared_->stopping) return Finish();
    if (buffer_.size() == 0 && buffer_.capacity() > kKeptBuffer) buffer_.shrink_to_fit();
    media_parser_.reset();
    parser_.emplace();
    // The limit depends on what the header asks (a file may be larger than
    // any other body): set once it is read, in OnHeader.
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    parser_->header_limit(kHeaderLimit);
    phase_ = Phase::kWaiting;
    header_begun_ = false;
    deadline_ = deadline;
    waiting_since.store(Ticks(Clock::now()), std::memory_order_relaxed);
    http::async_read_header(
        stream_, buffer_, *parser_,
        beast::bind_front_handler(&Session::OnHeader, this->shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    waiting_since.store(0, std::memory_order_relaxed);
    if (ec) return OnRead(ec, 0);
    started_ = Clock::now();
    const auto& header = parser_->get();
    if (const auto problem = FramingProblem(header))
      return Refuse(http::status::bad_request, *problem);
    if (IsMediaUpload(header)) return StartMediaUpload();
    if (const auto length = parser_->content_length(); length && *length > shared_->config.max_body)
      return Refuse(http::status::payload_too_large, "request body too large");
    parser_->body_limit(shared_->config.max_body);
    if (!parser_->is_done()) {
      // A declared body takes its room in the budget before any of it is
      // read; a chunked one chunk by chunk.
      if (const auto length = parser_->content_length()) {
        if (!body_hold_.GrowTo(*length)) return Refuse(http::status::service_unavailable, kBusy);
      } else {
        parser_->on_chunk_header(on_chunk_);
      }
    }
    ContinueThenReadBody();
  }

  // Clients that ask before sending a body are told to go ahead, unless the
  // body is refused anyway.
  void ContinueThenReadBody() {
    const bool done = media_parser_ ? media_parser_->is_done() : parser_->is_done();
    if (EqualsIgnoringCase(Header()[http::field::expect], "100-continue") && !done) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      phase_ = Phase::kWriting;
      deadline_ = Clock::now() + IdleTimeout();
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
    phase_ = Phase::kBody;
    deadline_ = Clock::time_point::max();
    window_end_ = Clock::now() + kBodyWindow;
    window_start_bytes_ = 0;
    if (media_parser_) {
      return http::async_read(
          stream_, buffer_, *media_parser_,
          beast::bind_front_handler(&Session::OnMediaRead, this->shared_from_this()));
    }
    // Most requests (every GET) have no body: answer without another round
    // through the reactor.
    if (parser_->is_done()) return OnRead({}, 0);
    http::async_read(stream_, buffer_, *parser_,
                     beast::bind_front_handler(&Session::OnRead, this->shared_from_this()));
  }

  // The header of the request being read, whichever parser has it.
  const http::request_header<>& Header() {
    if (media_parser_) return media_parser_->get().base();
    return parser_->get().base();
  }

  // A file's body goes to a spool on disk as it arrives, never into memory;
  // it takes no room in the body budget but one of the upload slots.
  void StartMediaUpload() {
    const MediaLimits& limits = shared_->site.media;
    const auto& header = parser_->get();
    if (const auto refusal = CheckMediaHeader(header, limits)) {
      audit_ = {"media upload", {}};
      return Refuse(static_cast<http::status>(refusal->status), refusal->message);
    }
    client_ = ClientAddress(peer_text_, header["X-Forwarded-For"], shared_->config.trusted_proxies);
    if (const auto wait = shared_->Throttle(Work::kStore, client_); wait.count() > 0) {
      audit_ = {"media upload", {}};
      method_ = std::string(header.method_string());
      target_ = std::string(header.target());
      StringResponse response = PlainResponse(header.version(), false,
                                              http::status::too_many_requests, "too many requests");
      response.set(http::field::retry_after, std::to_string(wait.count()));
      return Send(std::move(response), true);
    }
    if (shared_->media_uploads.fetch_add(1) >= limits.uploads_at_once) {
      shared_->media_uploads.fetch_sub(1);
      return Refuse(http::status::service_unavailable, kBusy);
    }
    std::shared_ptr<MediaSpool> spool;
    try {
      spool = std::make_shared<MediaSpool>(
          limits.spool_dir, [shared = shared_] { shared->media_uploads.fetch_sub(1); });
    } catch (const std::exception& error) {
      shared_->Note(error.what());
      return Refuse(http::status::service_unavailable, kBusy);
    }
    media_parser_.emplace(std::move(*parser_));
    media_parser_->body_limit(limits.Largest());
    media_parser_->get().body() = std::move(spool);
    ContinueThenReadBody();
  }

  void OnMediaRead(beast::error_code ec, std::size_t) {
    phase_ = Phase::kAnswering;
    deadline_ = Clock::time_point::max();
    if (ec == http::error::body_limit) {
      audit_ = {"media upload", {}};
      return Refuse(http::status::payload_too_large, "file too large");
    }
    if (ec == MediaBody::kDiskFull) return Refuse(http::status::insufficient_storage, "no room");
    // Cut off, timed out or malformed: nothing was stored, and the spool
    // goes with the connection.
    if (ec) return Close();
    if (started_ == Clock::time_point{}) started_ = Clock::now();
    auto message = media_parser_->release();
    std::shared_ptr<MediaSpool> spool = std::move(message.body());
    media_parser_.reset();
    Request request(std::move(message.base()));
    method_ = std::string(request.method_string());
    target_ = std::string(request.target());
    if (shared_->stopping) request.keep_alive(false);
    Dispatch(std::move(request), std::move(spool));
  }

  // Charges a chunked body's growth to the budget, as its string will grow:
  // by doubling.
  void OnChunk(std::uint64_t size, std::string_view, beast::error_code& ec) {
    const std::uint64_t total = parser_->get().body().size() + size;
    if (size > 0 && !body_hold_.GrowTo(std::bit_ceil(total))) ec = kOverBudget;
  }

  void OnRead(beast::error_code ec, std::size_t) {
    phase_ = Phase::kAnswering;
    deadline_ = Clock::time_point::max();
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted) return Close();
    if (ec == http::error::body_limit)
      return Refuse(http::status::payload_too_large, "request body too large");
    if (ec == kOverBudget) return Refuse(http::status::service_unavailable, kBusy);
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::partial_message) {
      // Malformed HTTP: answer once, then hang up; as the request's own
      // answer when its header was whole (a HEAD gets no body).
      if (parser_->is_header_done()) return Refuse(http::status::bad_request, "malformed request");
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
    client_ =
        ClientAddress(peer_text_, request["X-Forwarded-For"], shared_->config.trusted_proxies);
    Dispatch(std::move(request));
  }

  // Answers at once what needs no database; hands the rest to a storage
  // worker, and the answer comes back to this connection's thread.
  // `spool`: the request sent a file, which is stored (its rate was
  // limited when it began).
  void Dispatch(Request&& request, std::shared_ptr<MediaSpool> spool = nullptr) {
    audit_ = {};
    const Work work = spool ? Work::kStore : WorkOf(request, shared_->site);
    if (work == Work::kAtOnce) return Send(HandleRequest(request, shared_->site, &audit_));
    if (const auto wait = spool ? std::chrono::seconds(0) : shared_->Throttle(work, client_);
        wait.count() > 0) {
      audit_.operation = work == Work::kClaim ? "claim" : "store";
      return Send(TryLater(request, http::status::too_many_requests, wait, "too many requests"));
    }
    auto job = std::make_shared<Request>(std::move(request));
    // Keeps this connection's thread running until the answer is back, also
    // while the server stops.
    auto busy =
        std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(Executor());
    const auto lane =
        work == Work::kRead ? StorageWorkers::Lane::kRead : StorageWorkers::Lane::kWrite;
    const bool queued = shared_->workers->Submit(lane, [self = this->shared_from_this(), job, busy,
                                                        spool] {
      auto response = std::make_shared<Response>(
          spool ? HandleMediaUpload(*job, *spool, self->shared_->site, &self->audit_)
                : HandleRequest(*job, self->shared_->site, &self->audit_));
      asio::post(self->Executor(), [self, response, busy] { self->Send(std::move(*response)); });
    });
    if (!queued)
      Send(TryLater(*job, http::status::service_unavailable, kQueueFullRetry, "server busy"));
  }

  // Answers the request whose header has been read without reading any more
  // of it, and ends the connection.
  void Refuse(http::status status, std::string_view message) {
    const auto& header = Header();
    method_ = std::string(header.method_string());
    target_ = std::string(header.target());
    StringResponse response = PlainResponse(header.version(), false, status, message);
    if (status == http::status::service_unavailable)
      response.set(http::field::retry_after, kRetryAfterSeconds);
    // An answer to HEAD has no body, refusals included: the client would
    // read one as the start of the next answer.
    if (header.method() == http::verb::head) {
      const std::size_t size = response.body().size();
      response.body().clear();
      response.content_length(size);
    }
    Send(std::move(response), true);
  }

  // `drain`: the request's body may still be arriving; swallow it for a
  // moment after answering.
  void Send(Response&& response, bool drain = false) {
    status_ = StatusOf(response);
    body_bytes_ = BodyBytesOf(response);
    outcome_.clear();
    if (const auto* text = std::get_if<StringResponse>(&response);
        text != nullptr && status_ >= 400)
      outcome_ = text->body().substr(0, text->body().find('\n'));
    phase_ = Phase::kWriting;
    deadline_ = Clock::now() + IdleTimeout();
    queued_ = SIZE_MAX;
    std::visit([this, drain](auto& message) { this->Write(std::move(message), drain); }, response);
  }

  // The send deadline counts from the last progress, not from the start: a
  // large answer to a slow reader that keeps reading goes through.
  void Progressed() { deadline_ = Clock::now() + IdleTimeout(); }

  template <class Body>
  struct Outgoing {
    explicit Outgoing(http::response<Body>&& response) : message(std::move(response)) {}
    http::response<Body> message;
    http::response_serializer<Body> serializer{message};
  };

  template <class Body>
  void Write(http::response<Body>&& response, bool drain) {
    const bool keep_alive = response.keep_alive();
    WriteSome(std::make_shared<Outgoing<Body>>(std::move(response)), keep_alive, drain);
  }

  template <class Body>
  void WriteSome(std::shared_ptr<Outgoing<Body>> out, bool keep_alive, bool drain) {
    auto& serializer = out->serializer;
    http::async_write_some(stream_, serializer,
                           [self = this->shared_from_this(), out = std::move(out), keep_alive,
                            drain](beast::error_code ec, std::size_t) mutable {
                             if (ec || out->serializer.is_done())
                               return self->OnWrite(ec, keep_alive, drain);
                             self->Progressed();
                             self->WriteSome(std::move(out), keep_alive, drain);
                           });
  }

  // A file (an asset not held in memory) goes to the socket inside the
  // kernel too, instead of through a small buffer a piece at a time.
  void Write(FileResponse&& response, bool drain) {
    if constexpr (kZeroCopy) {
      if (!drain && response.body().is_open()) {
        if (!SocketNonBlocking()) return;
        file_ = std::move(response.body());
        page_ = PageResponse{HeaderText(response), nullptr, response.keep_alive(), false};
        page_sender_ = PageSender(page_.head, static_cast<int>(file_.file().native_handle()),
                                  static_cast<std::size_t>(file_.size()));
        return PumpPage();
      }
    }
    Write<http::file_body>(std::move(response), drain);
  }

  // False, and the connection finished, when the socket cannot be made so.
  bool SocketNonBlocking() {
    Socket& socket = Lowest();
    if (socket.native_non_blocking()) return true;
    beast::error_code ec;
    socket.native_non_blocking(true, ec);
    if (ec) FinishPage(ec);
    return !ec;
  }

  void Write(PageResponse&& response, bool) {
    page_ = std::move(response);
    // A page's compressed form has no file of its own: it goes from memory.
    if constexpr (kZeroCopy) {
      const PageFile& file = page_.file != nullptr ? *page_.file : page_.page->file;
      if (file.valid() && (page_.file != nullptr || !page_.gzip)) {
        if (!SocketNonBlocking()) return;
        page_sender_ = PageSender(page_.head, file, page_.body().size(), page_.file_offset);
        return PumpPage();
      }
    }
    const std::array<asio::const_buffer, 2> buffers = {asio::buffer(page_.head),
                                                       asio::buffer(page_.body())};
    asio::async_write(
        stream_, buffers,
        [this](beast::error_code ec, std::size_t sent) {
          if (sent > 0) Progressed();
          return asio::transfer_all()(ec, sent);
        },
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
                            self->Progressed();
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
    file_ = {};
    OnWrite(ec, keep_alive, false);
  }

  void OnWrite(beast::error_code ec, bool keep_alive, bool drain) {
    const bool endpoint =
        !audit_.operation.empty() || EqualsIgnoringCase(target_, wire::kEndpointPath);
    shared_->Log({method_, target_, status_, body_bytes_, started_, client_,
                  endpoint ? &audit_ : nullptr, outcome_});
    started_ = {};
    body_hold_.Release();
    if (ec) return Close();
    if (drain) return Drain();
    if (!keep_alive) return Finish();
    Read(Clock::now() + IdleTimeout());
  }

  // The connection ends with nothing in flight: over TLS the client is told
  // so (close_notify) and given a moment to say it back.
  void Finish() {
    if constexpr (kTls) {
      if (!shared_->stopping) {
        deadline_ = Clock::now() + kClosingTime;
        stream_.async_shutdown(
            [self = this->shared_from_this()](beast::error_code) { self->Close(); });
        return;
      }
    }
    Close();
  }

  // After refusing a request whose body is still arriving: stop sending and
  // swallow what comes for a moment, so the client reads our answer instead
  // of a connection reset.
  void Drain() {
    beast::error_code ignored;
    Lowest().shutdown(Socket::shutdown_send, ignored);
    phase_ = Phase::kDraining;
    deadline_ = Clock::now() + kClosingTime;
    drain_buffer_.resize(64 * 1024);
    DrainSome();
  }
  void DrainSome() {
    auto on_read = [self = this->shared_from_this()](beast::error_code ec, std::size_t bytes) {
      self->drained_ += bytes;
      if (ec || self->drained_ > kDrainLimit) return self->Close();
      self->DrainSome();
    };
    // What a client sent instead of a TLS handshake is not TLS either.
    if (drain_raw_)
      return Lowest().async_read_some(asio::buffer(drain_buffer_), std::move(on_read));
    stream_.async_read_some(asio::buffer(drain_buffer_), std::move(on_read));
  }

  void Close() {
    beast::error_code ignored;
    Lowest().shutdown(Socket::shutdown_both, ignored);
    Lowest().close(ignored);
  }

  std::shared_ptr<const void> keep_;
  Stream stream_;
  std::shared_ptr<ServerShared> shared_;
  bool handshaking_ = false;
  bool drain_raw_ = false;
  const boost::asio::ip::address peer_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::request_parser<MediaBody>> media_parser_;
  std::function<void(std::uint64_t, std::string_view, beast::error_code&)> on_chunk_ =
      [this](std::uint64_t size, std::string_view extensions, beast::error_code& ec) {
        OnChunk(size, extensions, ec);
      };
  BodyHold body_hold_;
  Phase phase_ = Phase::kWaiting;
  bool header_begun_ = false;
  Clock::time_point deadline_ = Clock::time_point::max();
  Clock::time_point window_end_{};
  std::size_t queued_ = SIZE_MAX;  // in the kernel at the last look
  std::size_t window_start_bytes_ = 0;
  Clock::time_point started_{};
  std::string method_;
  std::string target_;
  unsigned status_ = 0;
  std::size_t body_bytes_ = 0;
  std::string peer_text_;  // the connection's own peer, for the log
  std::string client_;     // who the request is from, proxies seen through
  Audit audit_;
  std::string outcome_;
  PageResponse page_;
  http::file_body::value_type file_;
  PageSender page_sender_;
  std::vector<char> drain_buffer_;
  std::size_t drained_ = 0;
};

}  // namespace

ServerShared::ServerShared(ServerConfig configuration, Stores storage)
    : config(std::move(configuration)),
      compressed_assets(this->config.asset_dirs),
      asset_paths(this->config.asset_dirs),
      site{storage,
           this->config.public_host,
           this->config.asset_dirs,
           this->config.media,
           &compressed_assets,
           &asset_paths},
      connections(this->config.max_connections == 0 ? SIZE_MAX : this->config.max_connections,
                  this->config.max_connections_per_address),
      body_budget(this->config.max_body_memory) {
  if (this->config.claims_per_minute > 0)
    claims_.emplace(this->config.claims_per_minute, this->config.claim_burst);
  if (this->config.stores_per_minute > 0)
    stores_.emplace(this->config.stores_per_minute, this->config.store_burst);
}

void ServerShared::Add(Connection* connection, std::weak_ptr<Connection> handle,
                       const boost::asio::ip::address& peer) {
  connections.Add(connection, std::move(handle), peer);
}

void ServerShared::Forget(Connection* connection) {
  if (connections.Forget(connection) == 0 && stopping && on_all_gone) on_all_gone();
}

void ServerShared::Note(std::string_view text) {
  log_.Write("heartpage-server: " + std::string(text) + "\n");
}

std::chrono::seconds ServerShared::Throttle(Work work, const std::string& client) {
  RateLimiter* limiter = nullptr;
  if (work == Work::kClaim && claims_) limiter = &*claims_;
  if (work == Work::kStore && stores_) limiter = &*stores_;
  return limiter != nullptr ? limiter->Take(client) : std::chrono::seconds(0);
}

void ServerShared::Log(const LogEntry& entry) {
  const double ms =
      entry.started == Clock::time_point{}
          ? 0.0
          : std::chrono::duration<double, std::milli>(Clock::now() - entry.started).count();
  // Every part that a client chose is escaped: no request can write a line
  // of its own into the log.
  std::string line = std::string(entry.method) + " " + LoggablePath(entry.target).substr(0, 300);
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %u %zu %.2fms ", entry.status, entry.bytes, ms);
  line += numbers;
  line += LoggablePath(entry.client).substr(0, 64);
  if (entry.audit != nullptr) {
    line += ' ';
    line += entry.audit->operation.empty() ? std::string_view("-")
                                           : std::string_view(entry.audit->operation);
    line += ' ';
    line += entry.audit->name.empty() ? "-" : LoggablePath(entry.audit->name).substr(0, 64);
    line += ' ';
    line += entry.outcome.empty() ? "ok" : "\"" + LoggableText(entry.outcome.substr(0, 100)) + "\"";
  }
  line += '\n';
  log_.Write(line);
}

void StartSession(Socket&& socket, std::shared_ptr<ServerShared> shared,
                  const boost::asio::ip::address& peer) {
  std::make_shared<Session<Socket>>(std::move(shared), peer, nullptr, std::move(socket))->Start();
}

void StartTlsSession(Socket&& socket, std::shared_ptr<asio::ssl::context> tls,
                     std::shared_ptr<ServerShared> shared, const boost::asio::ip::address& peer) {
  asio::ssl::context& context = *tls;
  std::make_shared<Session<TlsStream>>(std::move(shared), peer, std::move(tls), std::move(socket),
                                       context)
      ->Start();
}

}  // namespace heartpage::server
