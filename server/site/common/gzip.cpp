#include "server/site/common/gzip.h"

#include <zlib.h>

#include <array>
#include <limits>
#include <optional>

#include "text/ascii.h"

namespace heartpage::server {
namespace {

// zlib's default: about as small as 9 for text, at half its time.
constexpr int kLevel = 6;

// One deflate state for each thread that compresses, made at its first
// body and reset for each next: a state is some 270 KB, which the allocator
// would otherwise map, fault in and unmap again for every page.
class Deflater {
 public:
  Deflater() {
    // 15 + 16: the largest window, with the gzip header and trailer.
    ready_ = deflateInit2(&stream_, kLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // The gzip bytes of `bytes`, or nothing when zlib fails.
  std::optional<std::string> Compress(std::string_view bytes) {
    if (!ready_ || deflateReset(&stream_) != Z_OK) return std::nullopt;
    out_.resize(deflateBound(&stream_, static_cast<uLong>(bytes.size())));
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream_.avail_in = static_cast<uInt>(bytes.size());
    stream_.next_out = reinterpret_cast<Bytef*>(out_.data());
    stream_.avail_out = static_cast<uInt>(out_.size());
    const int result = deflate(&stream_, Z_FINISH);
    std::optional<std::string> gzip;
    if (result == Z_STREAM_END) gzip.emplace(out_.data(), stream_.total_out);
    // A large body's room is given back rather than kept by an idle thread.
    if (out_.capacity() > kKeptRoom) std::string().swap(out_);
    return gzip;
  }

 private:
  static constexpr std::size_t kKeptRoom = 256 * 1024;
  z_stream stream_{};
  bool ready_ = false;
  std::string out_;
};

}  // namespace

bool IsCompressibleType(std::string_view content_type) {
  const std::string_view type = content_type.substr(0, content_type.find(';'));
  if (type.size() > 5 && EqualsIgnoringCase(type.substr(0, 5), "text/")) return true;
  static constexpr std::array<std::string_view, 4> kTextual = {
      "application/json", "application/javascript", "application/xml", "image/svg+xml"};
  for (const std::string_view textual : kTextual)
    if (EqualsIgnoringCase(type, textual)) return true;
  return false;
}

std::string GzipIfWorthIt(std::string_view bytes) {
  if (bytes.size() < kSmallestCompressed || bytes.size() > std::numeric_limits<uInt>::max())
    return {};
  thread_local Deflater deflater;
  std::optional<std::string> gzip = deflater.Compress(bytes);
  if (!gzip || gzip->size() > bytes.size() - bytes.size() / 10) return {};
  return std::move(*gzip);
}

std::string GunzipPrefix(std::string_view gzip, std::size_t most) {
  std::string out(most, '\0');
  z_stream stream{};
  if (gzip.size() > std::numeric_limits<uInt>::max() || most > std::numeric_limits<uInt>::max() ||
      inflateInit2(&stream, 15 + 16) != Z_OK)
    return {};
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(most);
  inflate(&stream, Z_SYNC_FLUSH);
  out.resize(most - stream.avail_out);
  inflateEnd(&stream);
  return out;
}

}  // namespace heartpage::server
