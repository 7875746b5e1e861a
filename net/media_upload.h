#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "net/form_post.h"

// Sending a file of the sender's own to the publishing server: the raw bytes
// to POST /api/media, the machine identifier in the X-Machine-Id header in
// the value encoding. Blocks: the program calls it off its window's thread.
namespace heartpage {

struct MediaUploadResult {
  long status = 0;         // the HTTP status; 0 when no answer arrived
  std::string text;        // the answer: the file's public address on 200
  bool cancelled = false;  // `progress` asked to stop
  bool ok() const { return status == 200 && !text.empty(); }
};

// Told how many of `total` bytes have gone; answering false cancels the
// upload, and the server keeps nothing of it.
using MediaProgress = std::function<bool(std::uint64_t sent, std::uint64_t total)>;

// Sends `bytes` (held by the caller; a scaled picture) or, when `bytes` is
// empty, the file at `path`, read as it goes. A transfer that moves nothing
// for `stall_limit` ends with no answer (status 0), as one past
// `total_limit` does.
MediaUploadResult UploadMedia(const std::string& address, const std::filesystem::path& path,
                              std::string_view bytes, std::string_view machine_id,
                              const MediaProgress& progress = {},
                              std::chrono::milliseconds total_limit = std::chrono::minutes(10),
                              std::chrono::seconds stall_limit = kStallLimit);

// origin + "/api/media"
std::string MediaUploadAddress();

}  // namespace heartpage
