#pragma once

#include <boost/asio/buffer.hpp>
#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

namespace heartpage::server {

// Whoever pays for a body's memory: asked before the body grows.
class BodyCharge {
 public:
  // An error when the body may not hold `total` bytes.
  virtual boost::beast::error_code Grow(std::size_t total) = 0;

 protected:
  ~BodyCharge() = default;
};

// A request body held in memory that takes its room as its bytes arrive,
// doubling, never what its header declares: a client that declares 8 MB and
// sends a trickle holds a trickle.
struct BudgetedBody {
  struct value_type {
    std::string text;
    BodyCharge* charge = nullptr;
    std::size_t size() const { return text.size(); }
    // Gives the body's memory back to the system now: assigning an empty
    // string would keep the buffer, since the empty one lives inside the
    // string and there is nothing to take in exchange.
    void Free() { std::string().swap(text); }
  };

  class reader {
   public:
    template <bool isRequest, class Fields>
    reader(boost::beast::http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    void init(const boost::optional<std::uint64_t>& length, boost::beast::error_code& ec) {
      declared_ = length;
      ec = {};
    }

    template <class ConstBufferSequence>
    std::size_t put(const ConstBufferSequence& buffers, boost::beast::error_code& ec) {
      static constexpr std::size_t kFirstRoom = 4096;
      const std::size_t size = boost::asio::buffer_size(buffers);
      std::string& text = body_.text;
      const std::size_t needed = text.size() + size;
      if (needed > text.capacity()) {
        // Powers of two, whatever pieces the bytes came in: a body's room
        // depends on its size alone.
        std::size_t room = std::bit_ceil(std::max(needed, kFirstRoom));
        // A declared length is a ceiling, never a reservation.
        if (declared_ && *declared_ >= needed)
          room = static_cast<std::size_t>(std::min<std::uint64_t>(room, *declared_));
        if (body_.charge != nullptr) {
          ec = body_.charge->Grow(room);
          if (ec) return 0;
        }
        text.reserve(room);
      }
      for (const auto buffer : boost::beast::buffers_range_ref(buffers))
        text.append(static_cast<const char*>(buffer.data()), buffer.size());
      ec = {};
      return size;
    }

    void finish(boost::beast::error_code& ec) { ec = {}; }

   private:
    value_type& body_;
    boost::optional<std::uint64_t> declared_;
  };
};

}  // namespace heartpage::server
