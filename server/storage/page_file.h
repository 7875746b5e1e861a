#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

namespace heartpage::server {

// An in-memory file holding a page's bytes, from which the kernel can send
// the page to a socket without copying it out of user space first.
class PageFile {
 public:
  PageFile() = default;
  PageFile(PageFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  PageFile& operator=(PageFile&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile();

  // An invalid PageFile when the platform has no such files or they run out;
  // callers then send the bytes themselves.
  static PageFile Create(std::string_view bytes);
  // One file holding `pieces` one after another.
  static PageFile Create(std::span<const std::string_view> pieces);

  bool valid() const { return fd_ >= 0; }

  int fd() const { return fd_; }

 private:
  explicit PageFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace heartpage::server
