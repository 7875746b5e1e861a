#pragma once

#include <string>
#include <string_view>

namespace heartpage::server {

// Below this a body is sent as it is: the few hundred bytes gzip could save
// do not pay for the work of either end.
inline constexpr std::size_t kSmallestCompressed = 1024;

// Whether answers of this Content-Type are text that gzip shrinks; never
// pictures, sound or video, which are compressed already.
bool IsCompressibleType(std::string_view content_type);

// `bytes` gzip-compressed at level 6, or nothing (empty) when they are
// smaller than kSmallestCompressed or compressing them saves less than a
// tenth. Deterministic: the same bytes give the same output, so that
// servers sharing a database send the same bytes under the same validator.
std::string GzipIfWorthIt(std::string_view bytes);

// The first `most` bytes (fewer where it ends sooner) of what `gzip` holds;
// as far as it could be read where it is no gzip.
std::string GunzipPrefix(std::string_view gzip, std::size_t most);

}  // namespace heartpage::server
