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
  // Of those, the files one client address sends at once.
  unsigned uploads_per_address = 2;
  // Bytes a second a file must average once it has had kMediaPaceGrace;
  // 0: enough to send the largest file allowed within an hour, so that no
  // upload holds its slot for longer.
  std::uint64_t min_rate = 0;
  // What the files and previews sent from one client address may take in a
  // day, whatever identifiers it sends.
  std::uint64_t per_address_daily = std::uint64_t{500} * 1024 * 1024;
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
  std::uint64_t MinRate() const { return min_rate > 0 ? min_rate : Largest() / 3600 + 1; }
};

}  // namespace heartpage::server
