#pragma once

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/file_body.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "server/site/common/answer.h"
#include "server/site/common/http_util.h"
#include "server/site/common/piece_body.h"

// Files answered to GET and HEAD, whole or one byte range at a time, as
// players of music and video ask for them: assets and the senders' media.
namespace heartpage::server {

// The bytes of a GET: in a file opened for sending, in memory, or read a
// piece at a time from where they are kept.
using FileBytes =
    std::variant<std::string, boost::beast::http::file_body::value_type, PieceBody::value_type>;

// What the answer says of the file.
struct RangedFile {
  // Of the bytes as sent: compressed when `content_encoding` names a coding,
  // which only a request without Range may be sent.
  std::uint64_t size = 0;
  // Validates the bytes: If-None-Match and If-Range are compared with it.
  std::string_view etag;
  // When the file has a time, If-Modified-Since counts too.
  std::optional<std::int64_t> modified;
  // Set on every answer but a 304, after the holder's fields; none when empty.
  std::string_view content_type;
  std::string_view content_encoding;
  // A longer range gets its first max_part bytes; the client asks on for the rest.
  std::uint64_t max_part = UINT64_MAX;
  // Whether HEAD is told what a GET with its Range would get, or of the
  // whole file, as if Range were not there.
  bool head_ranges = false;
};

// What the sender asks of whoever holds the file.
class FileHolder {
 public:
  // The fields of every answer, a 304 included, in the order they go out.
  virtual void SetFields(boost::beast::http::fields& fields) const = 0;
  // A GET of the whole file, from memory when it is held there.
  virtual std::optional<Response> FromMemory() const { return std::nullopt; }
  // The bytes of a GET: the whole file, or the part named. Nothing when the
  // file is no longer there.
  virtual std::optional<FileBytes> Read(std::optional<ByteRange> part) const = 0;

 protected:
  ~FileHolder() = default;
};

// 304 when the client's copy is current; otherwise the whole file (200),
// the one range asked for (206, a stale If-Range getting the whole file),
// or 416 for a range past its end. Several ranges get the whole file.
Response SendRangedFile(const Request& request, const RangedFile& file, const FileHolder& holder);

}  // namespace heartpage::server
