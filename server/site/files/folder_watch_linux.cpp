#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "server/site/files/folder_watch.h"

namespace heartpage::server {

FolderWatch::FolderWatch(const std::vector<std::filesystem::path>& folders) {
  fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  constexpr std::uint32_t kChanges = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                     IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                     IN_MOVE_SELF;
  for (const std::filesystem::path& folder : folders) {
    if (fd_ < 0) break;
    if (inotify_add_watch(fd_, folder.c_str(), kChanges | IN_ONLYDIR) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  if (fd_ < 0) changed_ = true;
}

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) close(fd_);
}

bool FolderWatch::Changed() const {
  if (changed_.load(std::memory_order_relaxed)) return true;
  // The kernel queues the event before the change's own call returns; it is
  // never read, so the queue stays non-empty for good.
  int pending = 0;
  if (ioctl(fd_, FIONREAD, &pending) != 0 || pending > 0) {
    changed_.store(true, std::memory_order_relaxed);
    return true;
  }
  return false;
}

}  // namespace heartpage::server
