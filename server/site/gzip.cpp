#include "server/site/gzip.h"

#include <zlib.h>

#include <array>
#include <limits>

#include "text/ascii.h"

namespace heartpage::server {
namespace {

// zlib's default: about as small as 9 for text, at half its time.
constexpr int kLevel = 6;

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
  z_stream stream{};
  // 15 + 16: the largest window, with the gzip header and trailer.
  if (deflateInit2(&stream, kLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  const std::size_t size = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END || size > bytes.size() - bytes.size() / 10) return {};
  out.resize(size);
  out.shrink_to_fit();
  return out;
}

}  // namespace heartpage::server
