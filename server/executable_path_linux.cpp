#include <system_error>

#include "server/executable_path.h"

namespace heartpage::server {

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : path;
}

}  // namespace heartpage::server
