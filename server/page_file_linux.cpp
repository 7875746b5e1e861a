#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "server/page_file.h"

namespace heartpage::server {

PageFile::~PageFile() {
  if (fd_ >= 0) close(fd_);
}

namespace {

long SendFileTo(int socket, int file, std::size_t& offset, std::size_t count) {
  off_t position = static_cast<off_t>(offset);
  const ssize_t sent = sendfile(socket, file, &position, count);
  if (sent > 0) offset = static_cast<std::size_t>(position);
  return sent;
}

}  // namespace

long PageFile::SendTo(int socket, std::size_t& offset, std::size_t count) const {
  return SendFileTo(socket, fd_, offset, count);
}

PageFile PageFile::Create(std::string_view bytes) {
  return Create(std::span<const std::string_view>(&bytes, 1));
}

PageFile PageFile::Create(std::span<const std::string_view> pieces) {
  PageFile file(memfd_create("heartpage-page", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!file.valid()) return file;
  for (const std::string_view bytes : pieces) {
    for (std::size_t written = 0; written < bytes.size();) {
      const ssize_t n = write(file.fd_, bytes.data() + written, bytes.size() - written);
      if (n <= 0) return PageFile();
      written += static_cast<std::size_t>(n);
    }
  }
  // Sealed, so that what is sent is the page, whatever happens to the fd.
  fcntl(file.fd_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  return file;
}

int PageSender::SendSome(int socket) {
  // MSG_MORE: the header and the first bytes of the page share a packet.
  while (head_sent_ < head_.size()) {
    const ssize_t sent = ::send(socket, head_.data() + head_sent_, head_.size() - head_sent_,
                                MSG_MORE | MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return errno;
    head_sent_ += static_cast<std::size_t>(sent);
  }
  while (offset_ < end_) {
    const long sent = SendFileTo(socket, file_, offset_, end_ - offset_);
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0) return errno;
    if (sent == 0) return EIO;  // the file is shorter than it was
  }
  return 0;
}

}  // namespace heartpage::server
