#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "preview/preview.h"

namespace heartpage {

std::filesystem::path TempDirectory() {
  const char* configured = std::getenv("TMPDIR");
  if (configured != nullptr && *configured != '\0') return configured;
  return "/tmp";
}

std::optional<FileStamp> StampFile(const std::filesystem::path& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileStamp{
      static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
      static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

bool OpenTarget(const std::string& target) {
  if (target.empty()) return false;
  // xdg-open may wait for the browser it starts; a grandchild that nobody
  // waits for keeps the caller free and leaves no zombie behind.
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const pid_t opener = fork();
    if (opener == 0) {
      execlp("xdg-open", "xdg-open", target.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    _exit(opener < 0 ? 1 : 0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace heartpage
