#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>

#include "server/http/descriptors.h"

namespace heartpage::server {

namespace {

// The database and its journal, the log, the listener, a reactor per thread
// and what the C library opens now and then.
constexpr std::size_t kFixedDescriptors = 64;

}  // namespace

std::size_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  // An unlimited hard limit still stops at the kernel's own ceiling.
  return static_cast<std::size_t>(std::min<rlim_t>(limit.rlim_cur, rlim_t{1} << 20));
}

std::size_t DefaultPageFiles(std::size_t limit) {
  return std::min<std::size_t>(limit / 8, 1024);
}

std::size_t DefaultMaxConnections(std::size_t limit, std::size_t page_files) {
  const std::size_t taken = kFixedDescriptors + page_files;
  return std::max<std::size_t>(limit > taken ? (limit - taken) / 4 * 3 : 0, 16);
}

SpareDescriptor::SpareDescriptor() {
  Retake();
}

SpareDescriptor::~SpareDescriptor() {
  Release();
}

void SpareDescriptor::Release() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void SpareDescriptor::Retake() {
  if (fd_ < 0) fd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

void SendNow(int socket, std::string_view answer) {
  if (answer.empty()) return;
  // Best effort: a fresh socket's buffer takes a short answer whole.
  [[maybe_unused]] const ssize_t sent =
      send(socket, answer.data(), answer.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

std::size_t QueuedBytes(int socket) {
  int queued = 0;
  if (ioctl(socket, SIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<std::size_t>(queued);
}

std::uint64_t TakenBytes(int socket) {
  tcp_info info{};
  socklen_t size = sizeof info;
  if (getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
      size < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked)
    return 0;
  return info.tcpi_bytes_acked;
}

bool TurnAway(int listener, std::string_view answer) {
  const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return false;
  SendNow(fd, answer);
  close(fd);
  return true;
}

}  // namespace heartpage::server
