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

  // Sends up to `count` bytes from `offset` on, advancing `offset`, to a
  // non-blocking socket. The bytes sent, or -1 with errno set.
  long SendTo(int socket, std::size_t& offset, std::size_t count) const;
  int fd() const { return fd_; }

 private:
  explicit PageFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Writes an answer to a non-blocking socket: its header from memory, then
// the page from its file, which the kernel sends without the bytes passing
// through this process. Both must outlive the sending.
class PageSender {
 public:
  PageSender() = default;
  // The `size` bytes from `from` on in the file follow the header.
  PageSender(std::string_view head, const PageFile& file, std::size_t size, std::size_t from = 0)
      : PageSender(head, file.fd(), size, from) {}
  // The same from any open file that stays as it is while it is sent.
  PageSender(std::string_view head, int file, std::size_t size, std::size_t from = 0)
      : head_(head), file_(file), end_(from + size), offset_(from) {}

  // Sends what the socket takes now: 0 once everything is sent; EAGAIN when
  // the socket is full and this is to be called again once it is writable;
  // otherwise the errno of the failure.
  int SendSome(int socket);

 private:
  std::string_view head_;
  int file_ = -1;
  std::size_t end_ = 0;
  std::size_t head_sent_ = 0;
  std::size_t offset_ = 0;
};

}  // namespace heartpage::server
