#pragma once

#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/stream_traits.hpp>
#include <boost/beast/http/read.hpp>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "server/http/body_budget.h"
#include "server/http/budgeted_body.h"
#include "server/http/connection.h"
#include "server/http/server_shared.h"

namespace heartpage::server {

// The receiving of one connection's request bodies: their room in the body
// budget, their address's share of bodies arriving at once, and their pace,
// which must keep up with the minimum rate, end within the body timeout, and
// which the connection table reads to choose the slowest body to give way
// when the server or the body budget is full.
class BodyReader final : public BodyCharge {
 public:
  static constexpr auto kWindow = std::chrono::seconds(5);
  // A body that outgrows the budget, or its address's share of it.
  static inline const boost::beast::error_code kOverBudget =
      make_error_code(boost::system::errc::not_enough_memory);
  static inline const boost::beast::error_code kOverShare =
      make_error_code(boost::system::errc::resource_unavailable_try_again);

  // `connection`, from `peer`, is the one whose bodies these are, and
  // outlives this.
  BodyReader(Connection& connection, ServerShared& shared, const std::string& peer)
      : connection_(connection),
        shared_(shared),
        hold_(shared.body_budget),
        proxied_(std::ranges::count(shared.config.trusted_proxies, peer) > 0) {}
  ~BodyReader() { Done(); }
  BodyReader(const BodyReader&) = delete;
  BodyReader& operator=(const BodyReader&) = delete;

  // Before a body that is still to come is read: holds it against its
  // address's share. False, holding nothing, when the share is taken. A body
  // that has arrived `whole`, or is relayed by one of our own proxies (which
  // read requests whole before passing them on), waits on no client.
  bool Claim(bool whole) {
    if (claimed_ || proxied_ || whole) return true;
    claimed_ = shared_.connections.BeginBody(&connection_);
    return claimed_;
  }

  // Charges the body to come in `body` to the client with limit key
  // `address`, as it grows.
  void Charge(BudgetedBody::value_type& body, std::string address) {
    hold_.SetAddress(std::move(address));
    body.charge = this;
  }

  boost::beast::error_code Grow(std::size_t total) override {
    BodyBudget::Taken taken = hold_.GrowTo(total);
    if (taken == BodyBudget::Taken::kFull) {
      // The slowest body gives way rather than the newcomer: a crowd of
      // trickling bodies never keeps a page out.
      if (const auto slowest =
              shared_.connections.PickSlowestBody(&connection_, total - hold_.held())) {
        boost::asio::post(slowest->Executor(), [slowest] { slowest->CloseIfPicked(); });
        taken = hold_.GrowTo(total, true);
      }
    }
    connection_.body_held.store(hold_.held(), std::memory_order_relaxed);
    if (taken == BodyBudget::Taken::kFull) return kOverBudget;
    if (taken == BodyBudget::Taken::kOverShare) return kOverShare;
    return {};
  }

  // Reads the rest of the body into `parser`, then calls `then(ec)`; `then`
  // keeps the connection alive meanwhile. A body held against the share is
  // read a piece at a time, its progress told to the connection table.
  template <class Stream, class Parser, class Then>
  void Read(Stream& stream, boost::beast::flat_buffer& buffer, Parser& parser, Then then) {
    const Clock::time_point now = Clock::now();
    due_ = now + std::chrono::seconds(shared_.config.body_timeout_seconds);
    window_end_ = now + kWindow;
    window_start_ = 0;
    received_ = buffer.size();
    if (claimed_) {
      connection_.body_bytes.store(received_, std::memory_order_relaxed);
      connection_.body_since.store(Ticks(now), std::memory_order_relaxed);
    }
    ReadSome(stream, buffer, parser, std::move(then));
  }

  // Called once a second while a body arrives, of which `received` bytes
  // have: false once it has fallen behind the minimum rate over the last
  // window, or is not whole by the body timeout, however steadily it comes.
  bool KeepsPace(Clock::time_point now, std::size_t received) {
    if (now > due_) return false;
    if (now < window_end_) return true;
    const std::size_t window_seconds = std::chrono::seconds(kWindow).count();
    if (received - window_start_ < shared_.config.min_body_rate * window_seconds) return false;
    window_end_ = now + kWindow;
    window_start_ = received;
    return true;
  }

  // Picked to make room for a newcomer.
  bool Picked() const {
    return connection_.body_since.load(std::memory_order_relaxed) == Connection::kPicked;
  }

  // The body has arrived, or will not: its share is free for another.
  void Done() {
    if (!claimed_) return;
    claimed_ = false;
    connection_.body_since.store(0, std::memory_order_relaxed);
    shared_.connections.EndBody(&connection_);
  }
  // The request is answered: its body's room is free too.
  void Release() {
    Done();
    hold_.Release();
    connection_.body_held.store(0, std::memory_order_relaxed);
  }

 private:
  // A read takes no more than the buffer's free room (and never less than
  // 512 bytes), so a store's 75 KB body read into a header's buffer took 150
  // system calls. The room is made as large as what has already arrived, up
  // to 64 KB, and never larger than the rest of the body: only bytes that are
  // here grow the buffer, and one that trickles holds no more than the buffer
  // every connection keeps.
  template <class Stream, class Parser>
  static void MakeRoom(Stream& stream, boost::beast::flat_buffer& buffer, const Parser& parser) {
    constexpr std::size_t kKeptRoom = 16 * 1024;
    constexpr std::size_t kMostRoom = 64 * 1024;
    boost::system::error_code ignored;
    std::size_t room = std::clamp<std::size_t>(
        boost::beast::get_lowest_layer(stream).available(ignored), kKeptRoom, kMostRoom);
    if (const auto rest = parser.content_length_remaining()) {
      if (*rest <= buffer.size()) return;
      room = std::min<std::size_t>(room, *rest - buffer.size());
    }
    const std::size_t want = buffer.size() + room;
    if (buffer.capacity() >= want && buffer.capacity() <= std::max(want, kKeptRoom)) return;
    // A larger buffer left by a burst is given back before a wait.
    if (buffer.size() == 0) buffer.shrink_to_fit();
    buffer.reserve(want);
  }

  template <class Stream, class Parser, class Then>
  void ReadSome(Stream& stream, boost::beast::flat_buffer& buffer, Parser& parser, Then then) {
    if (parser.is_done()) {
      Done();
      return then(boost::beast::error_code());
    }
    MakeRoom(stream, buffer, parser);
    boost::beast::http::async_read_some(
        stream, buffer, parser,
        [this, &stream, &buffer, &parser, then = std::move(then)](boost::beast::error_code ec,
                                                                  std::size_t bytes) mutable {
          received_ += bytes;
          if (claimed_) connection_.body_bytes.store(received_, std::memory_order_relaxed);
          if (ec) {
            Done();
            return then(ec);
          }
          ReadSome(stream, buffer, parser, std::move(then));
        });
  }

  Connection& connection_;
  ServerShared& shared_;
  BodyHold hold_;
  const bool proxied_;
  bool claimed_ = false;
  Clock::time_point due_{};
  Clock::time_point window_end_{};
  std::size_t received_ = 0;
  std::size_t window_start_ = 0;
};

}  // namespace heartpage::server
