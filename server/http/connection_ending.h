#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>

#include <chrono>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "server/http/connection.h"
#include "server/http/http_message.h"

namespace heartpage::server {

// The ways a connection ends: at once; after telling a TLS client so; or,
// after refusing a client that is still sending, once what it sends has been
// swallowed for a moment, so that it reads the refusal instead of a reset.
// `Owner` (the connection) gives its `stream()` and `Lowest()` socket, hears
// `Ending(deadline, draining)` as the end begins, and is kept alive
// meanwhile through its shared_from_this().
template <class Owner, class Stream>
class ConnectionEnding {
 public:
  static constexpr auto kClosingTime = std::chrono::seconds(2);

  explicit ConnectionEnding(Owner& owner) : owner_(owner) {}

  void Close() {
    boost::beast::error_code ignored;
    owner_.Lowest().shutdown(Socket::shutdown_both, ignored);
    owner_.Lowest().close(ignored);
  }

  // Nothing is in flight: over TLS the client is told so (close_notify) and
  // given a moment to say it back, unless the server is stopping.
  void Finish(bool stopping) {
    if constexpr (!std::is_same_v<Stream, Socket>) {
      if (!stopping) {
        owner_.Ending(Clock::now() + kClosingTime, false);
        owner_.stream().async_shutdown([self = owner_.shared_from_this()](
                                           boost::beast::error_code) { self->ending_.Close(); });
        return;
      }
    }
    Close();
  }

  // Stops sending and swallows what comes for a moment.
  void Drain() {
    boost::beast::error_code ignored;
    owner_.Lowest().shutdown(Socket::shutdown_send, ignored);
    owner_.Ending(Clock::now() + kClosingTime, true);
    buffer_.resize(64 * 1024);
    DrainSome();
  }

  // A client that spoke plain HTTP to the TLS port is told why nothing works
  // (in plain HTTP: it could read nothing else), then drained; `then(ec)`
  // once the refusal has gone or failed.
  template <class Then>
  void RefusePlainHttp(std::chrono::seconds timeout, Then then) {
    raw_ = true;
    owner_.Ending(Clock::now() + timeout, false);
    boost::asio::async_write(owner_.Lowest(), boost::asio::buffer(kPlainHttpRefusal),
                             [self = owner_.shared_from_this(), then = std::move(then)](
                                 boost::beast::error_code ec, std::size_t) mutable {
                               then(ec);
                               if (ec) return self->ending_.Close();
                               self->ending_.Drain();
                             });
  }

 private:
  // More than any refused client may send before it is cut off.
  static constexpr std::size_t kDrainLimit = 64 * 1024 * 1024;

  void DrainSome() {
    auto on_read = [self = owner_.shared_from_this()](boost::beast::error_code ec,
                                                      std::size_t bytes) {
      ConnectionEnding& ending = self->ending_;
      ending.drained_ += bytes;
      if (ec || ending.drained_ > kDrainLimit) return ending.Close();
      ending.DrainSome();
    };
    // What a client sent instead of a TLS handshake is not TLS either.
    if (raw_)
      return owner_.Lowest().async_read_some(boost::asio::buffer(buffer_), std::move(on_read));
    owner_.stream().async_read_some(boost::asio::buffer(buffer_), std::move(on_read));
  }

  Owner& owner_;
  bool raw_ = false;
  std::vector<char> buffer_;
  std::size_t drained_ = 0;
};

}  // namespace heartpage::server
