#pragma once

#include <cstddef>
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

  bool valid() const { return fd_ >= 0; }

  // Sends up to `count` bytes from `offset` on, advancing `offset`, to a
  // non-blocking socket. The bytes sent, or -1 with errno set.
  long SendTo(int socket, std::size_t& offset, std::size_t count) const;
  int fd() const { return fd_; }

 private:
  explicit PageFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace heartpage::server
