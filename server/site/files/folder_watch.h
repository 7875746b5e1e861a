#pragma once

#include <atomic>
#include <filesystem>
#include <vector>

namespace heartpage::server {

// Whether anything in a few folders has changed since they began to be
// watched: a file written, touched, added, removed or renamed there, or a
// folder itself moved or removed. Cheaper to ask than a look at a file, and
// as current: a change counts from the moment it is made.
class FolderWatch {
 public:
  explicit FolderWatch(const std::vector<std::filesystem::path>& folders);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Once true, true for good; always true when the folders could not be
  // watched.
  bool Changed() const;

 private:
  int fd_ = -1;
  mutable std::atomic<bool> changed_{false};
};

}  // namespace heartpage::server
