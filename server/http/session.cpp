#include "server/http/session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "server/http/answer_writer.h"
#include "server/http/body_reader.h"
#include "server/http/connection_ending.h"
#include "server/http/descriptors.h"
#include "server/http/dispatch.h"
#include "server/http/http_message.h"
#include "server/http/piece_budget.h"
#include "server/http/request_record.h"
#include "server/site/common/client_address.h"
#include "server/site/files/media.h"
#include "server/site/files/media_admission.h"
#include "server/site/files/media_body.h"
#include "text/ascii.h"

namespace heartpage::server {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::size_t kHeaderLimit = 16 * 1024;
// Long enough for a connection's retransmissions to recover, short enough
// that a client reading nothing gives its answer back soon.
constexpr std::chrono::seconds kSendWindow{10};

using TlsStream = asio::ssl::stream<Socket>;

// A reading buffer grown past this by a body is given back after it.
constexpr std::size_t kKeptBuffer = 16 * 1024;
constexpr std::string_view kBusy = "server busy, try again later";
constexpr std::string_view kAddressShare = "too many uploads at once from this address";
// A storage queue that was full has most likely room again by then.
constexpr std::chrono::milliseconds kPieceRetry{20};

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
        peer_text_(CanonicalAddress(peer.to_string())),
        body_(*this, *shared_, peer_text_) {}
  ~Session() override {
    shared_->pieces.Give(this);
    shared_->Forget(this);
  }

  void Start() {
    shared_->Add(this, this->weak_from_this(), peer_, kTls);
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
    // A file that gave way to a newcomer while its sender sends nothing.
    if (phase_ == Phase::kBody && media_parser_ && media_parser_->get().body() &&
        media_parser_->get().body()->GivingWay())
      return GiveWay();
    if (phase_ == Phase::kBody &&
        !body_.KeepsPace(now, (media_parser_ ? media_parser_->get().body()->size()
                                             : parser_->get().body().size()) +
                                  buffer_.size()))
      return Close();
    if (phase_ == Phase::kWriting) {
      // The kernel holds megabytes for a connection and tells us only when
      // half of it has gone: a slow reader moves the queue long before that.
      const std::size_t queued = QueuedBytes(Lowest().native_handle());
      if (holds_pieces_)
        sending_taken.store(TakenBytes(Lowest().native_handle()) - pieces_taken_from_,
                            std::memory_order_relaxed);
      if (queued < queued_) deadline_ = std::max(deadline_, now + IdleTimeout());
      queued_ = queued;
      // Moving at all is not enough: a client that takes a byte now and
      // then would hold its answer (a file's copy among it) for ever.
      if (!send_window_begun_) {
        // Measured at the first look rather than as the answer starts: most
        // answers are gone by then, and the look costs a system call.
        send_window_begun_ = true;
        send_window_end_ = now + kSendWindow;
        send_taken_ = TakenBytes(Lowest().native_handle());
      } else if (now >= send_window_end_) {
        const std::uint64_t taken = TakenBytes(Lowest().native_handle());
        const std::uint64_t least = shared_->config.min_send_rate * kSendWindow.count();
        if (queued > 0 && taken - send_taken_ < least) return Close();
        send_window_end_ = now + kSendWindow;
        send_taken_ = taken;
      }
    }
    if (now > deadline_) Close();
  }

  void CloseIfPicked() override {
    if (phase_ == Phase::kWaiting && waiting_since.load() == kPicked) return Close();
    if (phase_ == Phase::kBody && body_.Picked()) GiveWay();
    // What the kernel holds for it goes at once too, not when it is read.
    if (phase_ == Phase::kWriting && holds_pieces_ && sending_since.load() == kPicked) {
      beast::error_code ignored;
      Lowest().set_option(asio::socket_base::linger(true, 0), ignored);
      Close();
    }
  }

  asio::io_context::executor_type Executor() override { return Lowest().get_executor(); }

  // Writes the answer to the request read last. `drain`: the request's body
  // may still be arriving; swallow it for a moment after answering.
  void Send(Response&& response, bool drain = false) {
    if constexpr (kTls) {
      if (shared_->config.hsts_seconds > 0)
        AddStrictTransport(response, shared_->config.hsts_seconds);
    }
    if (const auto* stream = std::get_if<StreamResponse>(&response);
        stream != nullptr && !HoldPieceRoom())
      response = PiecesBusy(*stream);
    record_.Answered(response);
    StartWriting();
    writer_.Write(std::move(response), drain);
  }

 private:
  // Where the connection is, for the deadlines: waiting for a request (and
  // its header), receiving a body, having it answered, sending the answer,
  // swallowing what a refused client still sends.
  enum class Phase { kWaiting, kBody, kAnswering, kWriting, kDraining };

  friend class AnswerWriter<Session, Stream>;
  friend class ConnectionEnding<Session, Stream>;

  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

  Stream& stream() { return stream_; }
  Socket& Lowest() { return beast::get_lowest_layer(stream_); }

  std::chrono::seconds IdleTimeout() const {
    return std::chrono::seconds(shared_->config.idle_timeout_seconds);
  }
  std::chrono::seconds HeaderTimeout() const {
    return std::chrono::seconds(shared_->config.header_timeout_seconds);
  }

  void StartWriting() {
    phase_ = Phase::kWriting;
    const Clock::time_point now = Clock::now();
    deadline_ = now + IdleTimeout();
    queued_ = SIZE_MAX;
    send_window_begun_ = false;
  }

  // An answer sent a piece at a time holds one piece's room while it is
  // sent; false when there is none, not even from a slower reader.
  bool HoldPieceRoom() {
    const PieceBudget::Taking taking =
        shared_->pieces.Take(this, this->weak_from_this(), LimitKey(record_.client));
    if (taking.evict)
      asio::post(taking.evict->Executor(), [evict = taking.evict] { evict->CloseIfPicked(); });
    if (!taking.taken) return false;
    holds_pieces_ = true;
    pieces_taken_from_ = TakenBytes(Lowest().native_handle());
    sending_taken.store(0, std::memory_order_relaxed);
    sending_since.store(Ticks(Clock::now()), std::memory_order_relaxed);
    return true;
  }
  void ReleasePieceRoom() {
    if (!holds_pieces_) return;
    holds_pieces_ = false;
    shared_->pieces.Give(this);
    sending_since.store(0, std::memory_order_relaxed);
  }
  static StringResponse PiecesBusy(const StreamResponse& stream) {
    http::request_header<> header;
    header.version(stream.version());
    StringResponse busy =
        Refusal(header, http::status::service_unavailable, kBusy, std::chrono::seconds(1));
    busy.keep_alive(stream.keep_alive());
    return busy;
  }

  // Reads a piece of an answer on a storage worker, and hands it to `then`
  // on this connection's thread: nothing when it could not be read. A full
  // queue is tried again in a moment: the answer has begun, and the client
  // can be told nothing better.
  void FetchPiece(std::function<std::string()> read,
                  std::function<void(std::optional<std::string>)> then) {
    auto busy =
        std::make_shared<asio::executor_work_guard<asio::io_context::executor_type>>(Executor());
    const auto job = [self = this->shared_from_this(), read, then, busy]() mutable {
      std::optional<std::string> piece;
      try {
        piece = read();
      } catch (const std::exception& error) {
        self->shared_->Note(std::string("a file could not be sent on: ") + error.what());
      }
      const auto executor = self->Executor();
      asio::post(executor,
                 [self = std::move(self), piece = std::move(piece), then = std::move(then),
                  busy = std::move(busy)]() mutable { then(std::move(piece)); });
    };
    if (shared_->workers->Submit(StorageWorkers::Lane::kRead, job)) return;
    if (shared_->stopping) return then(std::nullopt);
    auto later = std::make_shared<asio::steady_timer>(Executor(), kPieceRetry);
    later->async_wait([self = this->shared_from_this(), later, read = std::move(read),
                       then = std::move(then)](beast::error_code ec) mutable {
      if (ec) return then(std::nullopt);
      self->FetchPiece(std::move(read), std::move(then));
    });
  }

  // A body that makes room for a newcomer stops being read, and is answered
  // and logged as refused once its read has ended.
  void GiveWay() {
    gave_way_ = true;
    beast::error_code ignored;
    Lowest().cancel(ignored);
  }
  // Its memory is free at once, not once the refusal has gone.
  bool GaveWay() {
    if (!gave_way_) return false;
    gave_way_ = false;
    if (media_parser_) {
      record_.audit.operation = "media upload";
      // Its upload slots too.
      media_parser_->get().body().reset();
    } else if (parser_) {
      parser_->get().body().Free();
    }
    body_.Release();
    Refuse(http::status::service_unavailable, kBusy, std::chrono::seconds(5));
    return true;
  }

  // A handshake has a short deadline of its own, and waits like an idle
  // connection: the oldest gives way to a newcomer when the server is full.
  // The first request's header is still due from the connection's start.
  void Handshake() {
    handshaking_ = true;
    const Clock::time_point start = Clock::now();
    deadline_ = start + std::chrono::seconds(shared_->config.handshake_timeout_seconds);
    waiting_since.store(Ticks(start), std::memory_order_relaxed);
    stream_.async_handshake(asio::ssl::stream_base::server,
                            [self = this->shared_from_this(), start](beast::error_code ec) {
                              self->handshaking_ = false;
                              self->waiting_since.store(0, std::memory_order_relaxed);
                              self->shared_->connections.HandshakeDone(self.get());
                              if (!ec) return self->Read(start + self->HeaderTimeout());
                              if (ec.category() == asio::error::get_ssl_category() &&
                                  ERR_GET_REASON(ec.value()) == SSL_R_HTTP_REQUEST)
                                return self->RefusePlainHttp();
                              self->Close();
                            });
  }

  // A browser sent to http:// on this port learns why nothing works.
  void RefusePlainHttp() {
    ending_.RefusePlainHttp(IdleTimeout(), [this](beast::error_code) {
      static constexpr std::string_view kWhy = "plain HTTP to the HTTPS port";
      shared_->Log({"-", "-", 400, kPlainHttpRefusalBody.size(), {}, peer_text_, nullptr, kWhy});
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
    header_buffer_.Arm();
    http::async_read_header(
        stream_, header_buffer_, *parser_,
        beast::bind_front_handler(&Session::OnHeader, this->shared_from_this()));
  }

  void OnHeader(beast::error_code ec, std::size_t) {
    waiting_since.store(0, std::memory_order_relaxed);
    if (ec) return OnRead(ec, 0);
    record_.started = Clock::now();
    const auto& header = parser_->get();
    std::vector<std::string_view> forwarded_for;
    for (auto [line, end] = header.equal_range("X-Forwarded-For"); line != end; ++line)
      forwarded_for.push_back(line->value());
    record_.client = ClientAddress(peer_text_, forwarded_for, shared_->config.trusted_proxies);
    if (const auto problem = FramingProblem(header))
      return Refuse(http::status::bad_request, *problem);
    if (header_buffer_.Folded()) return Refuse(http::status::bad_request, "obsolete line folding");
    if (IsMediaUpload(header)) return StartMediaUpload();
    if (const auto length = parser_->content_length(); length && *length > shared_->config.max_body)
      return Refuse(http::status::payload_too_large, "request body too large");
    parser_->body_limit(shared_->config.max_body);
    if (!parser_->is_done()) {
      if (!ClaimBody()) return;
      body_.Charge(parser_->get().body(), LimitKey(record_.client));
    }
    ContinueThenReadBody();
  }

  // Clients that ask before sending a body are told to go ahead, unless the
  // body is refused anyway.
  void ContinueThenReadBody() {
    const bool done = media_parser_ ? media_parser_->is_done() : parser_->is_done();
    if (EqualsIgnoringCase(Header()[http::field::expect], "100-continue") && !done) {
      static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
      StartWriting();
      asio::async_write(stream_, asio::buffer(kContinue),
                        [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                          if (ec) return self->Close();
                          self->ReadBody();
                        });
      return;
    }
    ReadBody();
  }

  // Past its address's share of bodies, a client is told to come back. One
  // here already (in our buffer, or a plain socket's) waits on no client.
  bool ClaimBody() {
    const auto length = parser_->content_length();
    beast::error_code ignored;
    const std::size_t here = buffer_.size() + (kTls ? 0 : Lowest().available(ignored));
    if (body_.Claim(length && *length <= here)) return true;
    Refuse(http::status::too_many_requests, kAddressShare, std::chrono::seconds(5));
    return false;
  }

  void ReadBody() {
    phase_ = Phase::kBody;
    deadline_ = Clock::time_point::max();
    // Most requests (every GET) have no body: answer without another round
    // through the reactor.
    if (!media_parser_ && parser_->is_done()) return OnRead({}, 0);
    const auto then = [self = this->shared_from_this()](beast::error_code ec) {
      self->media_parser_ ? self->OnMediaRead(ec, 0) : self->OnRead(ec, 0);
    };
    if (media_parser_) return body_.Read(stream_, buffer_, *media_parser_, then);
    body_.Read(stream_, buffer_, *parser_, then);
  }

  // The header of the request being read, whichever parser has it.
  const http::request_header<>& Header() {
    if (media_parser_) return media_parser_->get().base();
    return parser_->get().base();
  }

  // A file's body goes to a spool on disk as it arrives, never into memory;
  // it takes no room in the body budget but one of the upload slots.
  void StartMediaUpload() {
    if (!ClaimBody()) return;
    const MediaLimits& limits = shared_->site.media;
    MediaAdmission admission = AdmitMedia(parser_->get(), limits, shared_->site.public_host,
                                          record_.client, shared_, &record_.audit);
    if (!admission.problem.empty()) shared_->Note(admission.problem);
    if (!admission.spool)
      return Refuse(static_cast<http::status>(admission.status), admission.message,
                    admission.retry_after);
    media_parser_.emplace(std::move(*parser_));
    media_parser_->body_limit(limits.Largest());
    media_parser_->get().body() = std::move(admission.spool);
    ContinueThenReadBody();
  }

  void OnMediaRead(beast::error_code ec, std::size_t) {
    phase_ = Phase::kAnswering;
    deadline_ = Clock::time_point::max();
    if (GaveWay()) return;
    if (ec == http::error::body_limit) {
      record_.audit.operation = "media upload";
      return Refuse(http::status::payload_too_large, "file too large");
    }
    if (ec == MediaBody::kDiskFull) return Refuse(http::status::insufficient_storage, "no room");
    if (ec == MediaBody::kGaveWay) {
      record_.audit.operation = "media upload";
      return Refuse(http::status::service_unavailable, kBusy, std::chrono::seconds(5));
    }
    // Said and logged, though the sender may be too busy sending to read it.
    if (ec == MediaBody::kTooSlow) {
      record_.audit.operation = "media upload";
      return Refuse(http::status::request_timeout, "file sent too slowly");
    }
    // Cut off, timed out or malformed: nothing was stored, and the spool
    // goes with the connection.
    if (ec) return Close();
    auto message = media_parser_->release();
    std::shared_ptr<MediaSpool> spool = std::move(message.body());
    media_parser_.reset();
    Request request(std::move(message.base()));
    record_.Name(request.method_string(), request.target());
    if (LastRequest()) request.keep_alive(false);
    Dispatch(*this, *shared_, std::move(request), std::move(spool), record_.client, &record_.audit);
  }

  void OnRead(beast::error_code ec, std::size_t) {
    phase_ = Phase::kAnswering;
    deadline_ = Clock::time_point::max();
    if (GaveWay()) return;
    if (ec == http::error::end_of_stream || ec == asio::error::operation_aborted) return Close();
    if (ec == http::error::body_limit)
      return Refuse(http::status::payload_too_large, "request body too large");
    if (ec == BodyReader::kOverBudget) return Refuse(http::status::service_unavailable, kBusy);
    if (ec == BodyReader::kOverShare)
      return Refuse(http::status::too_many_requests, kAddressShare, std::chrono::seconds(5));
    if (ec && ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::partial_message) {
      // Malformed HTTP: answer once, then hang up; as the request's own
      // answer when its header was whole (a HEAD gets no body).
      if (parser_->is_header_done()) return Refuse(http::status::bad_request, "malformed request");
      record_.Name("-", "-");
      return Send(PlainResponse({}, false, http::status::bad_request, "malformed request"), true);
    }
    if (ec) return Close();  // timeout, reset, a body cut off: nothing to answer
    auto message = parser_->release();
    Request request(std::move(message.base()), std::move(message.body().text));
    record_.Name(request.method_string(), request.target());
    if (LastRequest()) request.keep_alive(false);
    Dispatch(*this, *shared_, std::move(request), nullptr, record_.client, &record_.audit);
  }

  // A stopping server answers what it has read, then hangs up; so does any
  // server once a connection has carried its share of requests.
  bool LastRequest() {
    return shared_->stopping || ++requests_ >= shared_->config.max_requests_per_connection;
  }

  // Answers the request whose header has been read without reading any more
  // of it, and ends the connection.
  void Refuse(http::status status, std::string_view message,
              std::chrono::seconds retry_after = {}) {
    const auto& header = Header();
    record_.Name(header.method_string(), header.target());
    Send(Refusal(header, status, message, retry_after), true);
    // What came of a refused body is of no more use while the rest drains.
    if (parser_ && !media_parser_) parser_->get().body().Free();
  }

  // The send deadline counts from the last progress, not from the start: a
  // large answer to a slow reader that keeps reading goes through.
  void Progressed() { deadline_ = Clock::now() + IdleTimeout(); }

  void Written(beast::error_code ec, bool keep_alive, bool drain) {
    // Refused before its header could be read: the connection's peer is
    // all there is to name.
    if (record_.client.empty()) record_.client = peer_text_;
    shared_->Log(record_.Entry());
    record_.Clear();
    body_.Release();
    ReleasePieceRoom();
    if (ec) return Close();
    if (drain) return ending_.Drain();
    // A client that pipelined past the last request is still sending:
    // closing on its unread bytes would reset the connection and throw away
    // the answers not yet taken, the last one among them.
    if (!keep_alive) return StillSending() ? ending_.Drain() : Finish();
    Read(Clock::now() + IdleTimeout());
  }

  bool StillSending() {
    beast::error_code ignored;
    return buffer_.size() > 0 || Lowest().available(ignored) > 0;
  }

  void Finish() { ending_.Finish(shared_->stopping); }
  void Close() { ending_.Close(); }
  // The end has begun; the connection is done with by `deadline`.
  void Ending(Clock::time_point deadline, bool draining) {
    if (draining) phase_ = Phase::kDraining;
    deadline_ = deadline;
  }

  std::shared_ptr<const void> keep_;
  Stream stream_;
  std::shared_ptr<ServerShared> shared_;
  bool handshaking_ = false;
  const boost::asio::ip::address peer_;
  beast::flat_buffer buffer_;
  HeaderBuffer header_buffer_{buffer_};
  std::optional<http::request_parser<BudgetedBody>> parser_;
  std::optional<http::request_parser<MediaBody>> media_parser_;
  Phase phase_ = Phase::kWaiting;
  bool header_begun_ = false;
  std::size_t requests_ = 0;             // read on this connection so far
  bool gave_way_ = false;                // the body being read makes room for another
  bool holds_pieces_ = false;            // of the piece budget, for the answer being sent
  std::uint64_t pieces_taken_from_ = 0;  // what the client had taken before it
  Clock::time_point deadline_ = Clock::time_point::max();
  std::size_t queued_ = SIZE_MAX;  // in the kernel at the last look
  // The client must take shared_->config.min_send_rate bytes a second of
  // each kSendWindow while an answer is sent: taken by the window's start.
  bool send_window_begun_ = false;
  Clock::time_point send_window_end_{};
  std::uint64_t send_taken_ = 0;
  const std::string peer_text_;  // the connection's own peer, for the log
  BodyReader body_;
  RequestRecord record_;
  AnswerWriter<Session, Stream> writer_{*this};
  ConnectionEnding<Session, Stream> ending_{*this};
};

}  // namespace

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
