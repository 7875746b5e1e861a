#pragma once

#include <boost/beast/core/buffers_range.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/optional.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstdint>
#include <memory>

#include "server/site/files/media_spool.h"

namespace heartpage::server {

// A request body that goes to a MediaSpool as it arrives: whatever its size,
// a file being received holds no more memory than the connection's buffer.
struct MediaBody {
  using value_type = std::shared_ptr<MediaSpool>;

  // The spool's disk took less than it was given.
  static inline const boost::beast::error_code kDiskFull =
      make_error_code(boost::system::errc::no_space_on_device);
  // The file fell behind the pace it must keep (MediaSpool::KeepPace): it
  // ends, and nothing of it is kept.
  static inline const boost::beast::error_code kTooSlow =
      make_error_code(boost::system::errc::timed_out);

  // Every upload slot was taken and this file, the slowest, gave way to a
  // newcomer: it ends, and nothing of it is kept.
  static inline const boost::beast::error_code kGaveWay =
      make_error_code(boost::system::errc::connection_aborted);

  class reader {
   public:
    template <bool isRequest, class Fields>
    reader(boost::beast::http::header<isRequest, Fields>&, value_type& body) : body_(body) {}

    void init(const boost::optional<std::uint64_t>&, boost::beast::error_code& ec) { ec = {}; }

    template <class ConstBufferSequence>
    std::size_t put(const ConstBufferSequence& buffers, boost::beast::error_code& ec) {
      if (body_->GivingWay()) {
        ec = kGaveWay;
        return 0;
      }
      if (body_->BehindPace(std::chrono::steady_clock::now())) {
        ec = kTooSlow;
        return 0;
      }
      std::size_t taken = 0;
      for (const auto buffer : boost::beast::buffers_range_ref(buffers)) {
        if (!body_->Append(static_cast<const char*>(buffer.data()), buffer.size())) {
          ec = kDiskFull;
          return taken;
        }
        taken += buffer.size();
      }
      ec = {};
      return taken;
    }

    void finish(boost::beast::error_code& ec) { ec = {}; }

   private:
    value_type& body_;
  };
};

}  // namespace heartpage::server
