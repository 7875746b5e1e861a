#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/ascii.h"

namespace heartpage::server {

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::string FormatHttpDate(std::int64_t seconds_since_epoch);
// Now, for the Date header: formatted at most once a second per thread.
const std::string& CurrentHttpDate();
// The three date forms HTTP allows; nothing for anything else.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// Whether an If-None-Match header value names `etag` (or is "*"). Weak
// comparison, as a GET or HEAD asks for.
bool EtagMatches(std::string_view if_none_match, std::string_view etag);

// Whether a conditional GET can be answered 304: If-None-Match when present
// decides alone, otherwise If-Modified-Since, which must name a second after
// the one the page was last replaced in.
bool NotModified(std::string_view if_none_match, std::string_view if_modified_since,
                 std::string_view etag, std::int64_t modified);

// A single byte range of a Range header, resolved against a file of `size`
// bytes: first and last byte, both included.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
};
struct RangeRequest {
  enum class Kind { kWhole, kPart, kUnsatisfiable } kind = Kind::kWhole;
  ByteRange range;
};
// Anything but one well-formed "bytes=" range (several ranges, other units,
// nonsense) asks for the whole file, as if there were no header.
RangeRequest ParseRange(std::string_view header, std::uint64_t size);

// Whether an answer may be gzip-compressed for a client that sent this
// Accept-Encoding value: gzip (or x-gzip, or "*" when neither is named) has a
// weight above 0 and no lower than the one identity is given, if any. A
// coding named twice counts with its lower weight; an element whose weight
// is malformed is ignored. No header at all means identity.
bool AcceptsGzip(std::string_view accept_encoding);

// The validator of the gzip-compressed form of what `etag` names: another
// one, since the bytes differ.
std::string GzipEtag(std::string_view etag);

// One value of an application/x-www-form-urlencoded body, as its bytes;
// nothing when a percent sign is not followed by two hexadecimal digits.
std::optional<std::string> UnescapeFormValue(std::string_view text);

}  // namespace heartpage::server
