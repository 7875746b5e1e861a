#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "server/http/page_sender.h"

namespace heartpage::server {

namespace {

long SendFileTo(int socket, int file, std::size_t& offset, std::size_t count) {
  off_t position = static_cast<off_t>(offset);
  const ssize_t sent = sendfile(socket, file, &position, count);
  if (sent > 0) offset = static_cast<std::size_t>(position);
  return sent;
}

}  // namespace

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
