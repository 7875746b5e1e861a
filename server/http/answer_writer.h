#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/asio/completion_condition.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/file_body.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "server/http/connection.h"
#include "server/http/http_message.h"
#include "server/http/page_sender.h"
#include "server/site/router.h"

namespace heartpage::server {

// The writing half of a connection: sends its answers, one at a time.
// Pages and files go from their file to the socket inside the kernel where
// the stream is the socket itself (no TLS), anything else through Beast's
// serializer; files kept in the database a piece at a time. `Owner` (the
// connection) gives its `stream()` and `Lowest()` socket, reads pieces with
// `FetchPiece(read, then)`, hears `Progressed()` whenever some bytes went
// and `Written(ec, keep_alive, drain)` once the answer has gone or failed,
// and is kept alive meanwhile through its shared_from_this().
template <class Owner, class Stream>
class AnswerWriter {
 public:
  explicit AnswerWriter(Owner& owner) : owner_(owner) {}

  // `drain`: the request's body may still be arriving, and is swallowed for
  // a moment after the answer.
  void Write(Response&& response, bool drain) {
    std::visit([this, drain](auto& message) { this->Start(std::move(message), drain); }, response);
  }

 private:
  static constexpr bool kZeroCopy = std::is_same_v<Stream, Socket>;

  template <class Body>
  struct Outgoing {
    explicit Outgoing(boost::beast::http::response<Body>&& response)
        : message(std::move(response)) {}
    boost::beast::http::response<Body> message;
    boost::beast::http::response_serializer<Body> serializer{message};
  };

  template <class Body>
  void Start(boost::beast::http::response<Body>&& response, bool drain) {
    const bool keep_alive = response.keep_alive();
    WriteSome(std::make_shared<Outgoing<Body>>(std::move(response)), keep_alive, drain);
  }

  template <class Body>
  void WriteSome(std::shared_ptr<Outgoing<Body>> out, bool keep_alive, bool drain) {
    auto& serializer = out->serializer;
    boost::beast::http::async_write_some(
        owner_.stream(), serializer,
        [this, owner = owner_.shared_from_this(), out = std::move(out), keep_alive, drain](
            boost::beast::error_code ec, std::size_t) mutable {
          if (ec || out->serializer.is_done()) return owner_.Written(ec, keep_alive, drain);
          owner_.Progressed();
          WriteSome(std::move(out), keep_alive, drain);
        });
  }

  // A file (an asset not held in memory) goes to the socket inside the
  // kernel too, instead of through a small buffer a piece at a time.
  void Start(FileResponse&& response, bool drain) {
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
    Start<boost::beast::http::file_body>(std::move(response), drain);
  }

  // False, and the answer finished, when the socket cannot be made so.
  bool SocketNonBlocking() {
    Socket& socket = owner_.Lowest();
    if (socket.native_non_blocking()) return true;
    boost::beast::error_code ec;
    socket.native_non_blocking(true, ec);
    if (ec) FinishPage(ec);
    return !ec;
  }

  void Start(PageResponse&& response, bool) {
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
    const std::array<boost::asio::const_buffer, 2> buffers = {boost::asio::buffer(page_.head),
                                                              boost::asio::buffer(page_.body())};
    boost::asio::async_write(
        owner_.stream(), buffers,
        [this](boost::beast::error_code ec, std::size_t sent) {
          if (sent > 0) owner_.Progressed();
          return boost::asio::transfer_all()(ec, sent);
        },
        [this, owner = owner_.shared_from_this()](boost::beast::error_code ec, std::size_t) {
          FinishPage(ec);
        });
  }

  void PumpPage() {
    const int error = page_sender_.SendSome(owner_.Lowest().native_handle());
    if (error == EAGAIN) {
      owner_.Lowest().async_wait(Socket::wait_write, [this, owner = owner_.shared_from_this()](
                                                         boost::beast::error_code ec) {
        if (ec) return FinishPage(ec);
        owner_.Progressed();
        PumpPage();
      });
      return;
    }
    FinishPage(error == 0 ? boost::beast::error_code()
                          : boost::beast::error_code(error, boost::beast::system_category()));
  }

  // A file kept in the database goes a piece at a time: the next is read,
  // through the owner on a storage worker, once the last has gone to the
  // socket, so that the connection holds one piece however slow its reader.
  void Start(StreamResponse&& response, bool drain) {
    stream_ = std::move(response.body());
    stream_keep_alive_ = response.keep_alive();
    stream_drain_ = drain;
    next_ = stream_.first;
    piece_ = std::make_shared<std::string>(HeaderText(response.base()));
    SendPiece();
  }

  void SendPiece() {
    boost::asio::async_write(
        owner_.stream(), boost::asio::buffer(*piece_),
        [this](boost::beast::error_code ec, std::size_t sent) {
          if (sent > 0) owner_.Progressed();
          return boost::asio::transfer_all()(ec, sent);
        },
        [this, owner = owner_.shared_from_this(), piece = piece_](boost::beast::error_code ec,
                                                                  std::size_t) {
          if (ec) return FinishStream(ec);
          NextPiece();
        });
  }

  void NextPiece() {
    const std::uint64_t end = stream_.first + stream_.length;
    if (next_ >= end) return FinishStream({});
    const std::uint64_t to = std::min(end, stream_.source->PieceEnd(next_));
    owner_.FetchPiece(
        [source = stream_.source, from = next_, to] { return source->Read(from, to); },
        [this](std::optional<std::string> piece) {
          // The header promised the whole: all the client can
          // be told now is that it did not come.
          if (!piece || piece->empty())
            return FinishStream(make_error_code(boost::system::errc::io_error));
          next_ += piece->size();
          *piece_ = std::move(*piece);
          SendPiece();
        });
  }

  void FinishStream(boost::beast::error_code ec) {
    stream_ = {};
    piece_.reset();
    owner_.Written(ec, stream_keep_alive_, stream_drain_);
  }

  void FinishPage(boost::beast::error_code ec) {
    const bool keep_alive = page_.keep_alive;
    page_ = {};
    file_ = {};
    owner_.Written(ec, keep_alive, false);
  }

  Owner& owner_;
  PageResponse page_;
  boost::beast::http::file_body::value_type file_;
  PageSender page_sender_;
  PieceBody::value_type stream_;
  std::uint64_t next_ = 0;  // of the file: where the next piece begins
  std::shared_ptr<std::string> piece_;
  bool stream_keep_alive_ = false;
  bool stream_drain_ = false;
};

}  // namespace heartpage::server
