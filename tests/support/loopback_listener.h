#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace heartpage::testing {

// A socket bound to a free loopback port, whose number goes to `port`.
inline int BindLoopback(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    if (fd >= 0) close(fd);
    throw std::runtime_error("no free loopback port");
  }
  port = ntohs(addr.sin_port);
  return fd;
}

// A listening socket on a free loopback port, whose number goes to `port`.
inline int ListenOnLoopback(int& port) {
  const int fd = BindLoopback(port);
  if (listen(fd, 16) != 0) throw std::runtime_error("cannot listen on loopback");
  return fd;
}

// Listens on a free loopback port and, once started, hands every connection
// it accepts to `each` on a thread of its own until stopped. The listeners
// below own what happens on a connection, closing it included.
class AcceptLoop {
 public:
  AcceptLoop() {
    listen_fd_ = ListenOnLoopback(port_);
    if (pipe(stop_pipe_) != 0) throw std::runtime_error("cannot make a pipe");
  }
  ~AcceptLoop() {
    Stop();
    close(listen_fd_);
    close(stop_pipe_[0]);
    close(stop_pipe_[1]);
  }
  AcceptLoop(const AcceptLoop&) = delete;
  AcceptLoop& operator=(const AcceptLoop&) = delete;

  int port() const { return port_; }
  void Start(std::function<void(int fd)> each) {
    thread_ = std::thread([this, each = std::move(each)] {
      while (true) {
        pollfd fds[] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN)) return;
        const int fd = accept(listen_fd_, nullptr, nullptr);
        if (fd >= 0) each(fd);
      }
    });
  }
  // Returns once no connection is being handled any more.
  void Stop() {
    if (!thread_.joinable()) return;
    const char byte = 0;
    (void)!write(stop_pipe_[1], &byte, 1);
    thread_.join();
  }

 private:
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
};

// A one-thread HTTP listener on a free loopback port that records every raw
// request it reads and answers with the raw bytes the test's handler gives;
// a handler answering std::nullopt leaves the connection open and silent.
class LoopbackListener {
 public:
  using Handler = std::function<std::optional<std::string>(const std::string& request)>;

  explicit LoopbackListener(Handler handler) : handler_(std::move(handler)) {
    accepting_.Start([this](int fd) { Serve(fd); });
  }

  ~LoopbackListener() {
    accepting_.Stop();
    for (const int fd : silent_) close(fd);
  }

  int port() const { return accepting_.port(); }
  std::string Address(const std::string& path = "/asp/index.asp") const {
    return "http://127.0.0.1:" + std::to_string(port()) + path;
  }
  std::vector<std::string> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  // A port on which nothing listens: bound once, then released (port 0
  // would prove nothing about a port where nothing listens).
  static int ClosedPort() {
    int port = 0;
    close(BindLoopback(port));
    return port;
  }

  // "HTTP/1.1 <status>" with a Content-Length for `body`.
  static std::string Response(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
  }

 private:
  void Serve(int fd) {
    const std::optional<std::string> request = ReadRequest(fd);
    if (!request) {
      close(fd);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(*request);
    }
    const std::optional<std::string> response = handler_(*request);
    if (!response) {
      silent_.push_back(fd);
      return;
    }
    for (std::size_t sent = 0; sent < response->size();) {
      const ssize_t n = send(fd, response->data() + sent, response->size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    close(fd);
  }

  static std::optional<std::string> ReadRequest(int fd) {
    return ReadRequestWith([fd](char* buffer, std::size_t size) {
      return static_cast<long>(recv(fd, buffer, size, 0));
    });
  }

 public:
  // The head up to the blank line and as many body bytes as Content-Length
  // says, read through `read` (recv's contract: bytes read, 0 or less at the end).
  template <typename Read>
  static std::optional<std::string> ReadRequestWith(Read read) {
    std::string data;
    std::size_t wanted = std::string::npos;
    char buffer[65536];
    while (wanted == std::string::npos || data.size() < wanted) {
      const long n = read(buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      data.append(buffer, static_cast<std::size_t>(n));
      const std::size_t head_end = data.find("\r\n\r\n");
      if (wanted == std::string::npos && head_end != std::string::npos)
        wanted = head_end + 4 + ContentLength(data.substr(0, head_end));
    }
    return data;
  }

 private:
  static std::size_t ContentLength(std::string head) {
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::size_t at = head.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 17));
  }

  Handler handler_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::vector<int> silent_;
  AcceptLoop accepting_;
};

}  // namespace heartpage::testing
