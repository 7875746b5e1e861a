#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace heartpage::server {

// What tells one version of a file from the next: its size and its time of
// writing, as std::filesystem reports them.
struct FileStamp {
  std::uintmax_t size = 0;
  std::filesystem::file_time_type written;
};

// Both with a single look at the file (std::filesystem takes one for each);
// nothing when it is not there or not a regular file.
std::optional<FileStamp> StampOf(const std::filesystem::path& file);

}  // namespace heartpage::server
