#pragma once

#include <boost/beast/http/fields.hpp>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "server/site/common/answer.h"
#include "server/site/files/media_spool.h"

// The senders' own files: received at POST /api/media as raw bytes with the
// machine identifier in a header, kept under the SHA-256 of their bytes,
// served at /media/<name>.
namespace heartpage::server {

// The senders' own files run nothing, whatever their bytes, yet a browser's
// viewer shows or plays one opened at its own address: that viewer fetches
// the file from the document it makes for it, so the document keeps the
// site's origin (a sandbox would make it opaque and the fetch cross-origin)
// and may load the file itself and style its controls.
inline constexpr std::string_view kMediaSecurityPolicy =
    "default-src 'none'; media-src 'self'; img-src 'self'; style-src 'unsafe-inline'; "
    "form-action 'none'; base-uri 'none'";

// Whether a request's header asks to send a file: the connection then writes
// its body to a MediaSpool instead of memory.
bool IsMediaUpload(const boost::beast::http::request_header<>& header);

// What an address is told that has sent its day's worth of files and
// previews (MediaLimits::per_address_daily).
inline constexpr std::string_view kAddressDailyRefusal =
    "this address has sent all the files and previews it may send today";

struct MediaRefusal {
  unsigned status;
  std::string_view message;
};
// What can be refused from the header alone, before any of the body is
// taken: a request from a web page, no or a malformed identifier, a declared
// length over the largest file allowed.
// The maker's door (wire::kMakerMediaPath) is taken only from the site's own
// pages, with an owner key in X-Owner-Key instead of the identifier.
std::optional<MediaRefusal> CheckMediaHeader(const boost::beast::http::request_header<>& header,
                                             const MediaLimits& limits,
                                             std::string_view public_host);

// Stores the file received into `spool`: its type told again from its bytes
// (415 when it is none we keep), the limit of its kind (413), the sender's
// quota (413), its address's budgets (429) and the site's room (507). 200
// with the file's public address.
Response HandleMediaUpload(const Request& request, MediaSpool& spool, const Site& site,
                           Audit* audit);

// GET and HEAD of /media/<name>: immutable, with single byte ranges and
// validators; several ranges get the whole file.
Response ServeMedia(const Request& request, std::string_view name, const Site& site);

// One sweep of files that no page uses, for the log: how many were removed.
std::string SweepUnusedMedia(MediaStore& media, const MediaLimits& limits, std::time_t now);

}  // namespace heartpage::server
