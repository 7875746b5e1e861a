#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace heartpage::server {

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::string FormatHttpDate(std::int64_t seconds_since_epoch);
// The three date forms HTTP allows; nothing for anything else.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// Whether an If-None-Match header value names `etag` (or is "*"). Weak
// comparison, as a GET or HEAD asks for.
bool EtagMatches(std::string_view if_none_match, std::string_view etag);

// Whether a conditional GET can be answered 304: If-None-Match when present
// decides alone, otherwise If-Modified-Since.
bool NotModified(std::string_view if_none_match, std::string_view if_modified_since,
                 std::string_view etag, std::int64_t modified);

// A request path for the log: control characters and non-ASCII bytes escaped,
// so that a request cannot forge log lines.
std::string LoggablePath(std::string_view target);

}  // namespace heartpage::server
