#include <sys/stat.h>

#include <chrono>

#include "server/site/files/file_stamp.h"

namespace heartpage::server {

std::optional<FileStamp> StampOf(const std::filesystem::path& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const std::chrono::sys_time<std::chrono::nanoseconds> written{
      std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)};
  return FileStamp{static_cast<std::uintmax_t>(info.st_size),
                   std::chrono::file_clock::from_sys(written)};
}

}  // namespace heartpage::server
