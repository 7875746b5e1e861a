#pragma once

#include <cstddef>
#include <string_view>

#include "server/storage/page_file.h"

namespace heartpage::server {

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
