#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "preview/preview.h"

namespace heartpage {
namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::filesystem::path TempDirectory() {
  const char* configured = std::getenv("TMPDIR");
  if (configured != nullptr && *configured != '\0') return configured;
  return "/tmp";
}

std::filesystem::path PreviewDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return runtime;
  // The temporary directory is shared: the folder of our own in it is made
  // here when missing, and one that is there already is checked like any
  // other before it is used.
  std::filesystem::path own = TempDirectory() / ("heartpage-" + std::to_string(geteuid()));
  mkdir(own.c_str(), 0700);
  return own;
}

PrivateWrite WritePrivateFile(const std::filesystem::path& directory, std::string_view name,
                              std::string_view bytes) {
  // The folder is opened once and everything below goes through that
  // descriptor, so it cannot be swapped for another between check and write.
  const Descriptor folder{open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
  if (folder.fd < 0)
    return errno == ELOOP || errno == ENOTDIR ? PrivateWrite::kUnsafeFolder : PrivateWrite::kFailed;
  struct stat status {};
  if (fstat(folder.fd, &status) != 0) return PrivateWrite::kFailed;
  if (status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return PrivateWrite::kUnsafeFolder;

  std::random_device random;
  const std::string temporary =
      "." + std::string(name) + "." + std::to_string(random()) + std::to_string(random()) + ".tmp";
  bool written = false;
  {
    const Descriptor file{openat(folder.fd, temporary.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
    if (file.fd < 0) return PrivateWrite::kFailed;
    written = WriteAll(file.fd, bytes);
  }
  const std::string target(name);
  if (written && renameat(folder.fd, temporary.c_str(), folder.fd, target.c_str()) == 0)
    return PrivateWrite::kWritten;
  unlinkat(folder.fd, temporary.c_str(), 0);
  return PrivateWrite::kFailed;
}

std::optional<FileStamp> StampFile(const std::filesystem::path& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
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
