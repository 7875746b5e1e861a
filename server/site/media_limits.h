#pragma once

#include <cstdint>
#include <filesystem>

#include "protocol/media_kind.h"

namespace heartpage::server {

// What the senders' own files may take.
struct MediaLimits {
  std::uint64_t picture = kDefaultPictureLimit;  // per file
  std::uint64_t music = kDefaultMusicLimit;
  std::uint64_t video = kDefaultVideoLimit;
  std::uint64_t per_machine = 200 * 1024 * 1024;  // everything one identifier sent
  // Files being received at once; each waits in a file of its own on disk
  // (in `spool_dir`, the system's temporary folder when empty) until it is
  // whole and can be stored in one step.
  unsigned uploads_at_once = 8;
  std::filesystem::path spool_dir;
  // A file that no stored page of its sender names is removed once it is
  // this old.
  unsigned keep_unused_days = 30;

  std::uint64_t Of(MediaKind kind) const {
    return kind == MediaKind::kPicture ? picture : kind == MediaKind::kMusic ? music : video;
  }
  std::uint64_t Largest() const {
    return picture > music ? (picture > video ? picture : video) : (music > video ? music : video);
  }
};

}  // namespace heartpage::server
