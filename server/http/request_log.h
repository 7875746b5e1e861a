#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace heartpage::server {

// A request path for the log: control characters and non-ASCII bytes escaped,
// so that a request cannot forge log lines.
std::string LoggablePath(std::string_view target);
// A reason for the log, to stand between double quotes: spaces stay,
// whatever could end the quotes or the line is escaped.
std::string LoggableText(std::string_view text);

// One line per request, written by a thread of its own: under load, lines
// are gathered and written a batch at a time instead of one system call per
// request, and a slow reader of the log never holds up a request.
class RequestLog {
 public:
  explicit RequestLog(int fd);
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // Queues a line (with its newline). Past a few megabytes waiting, lines are
  // dropped and counted rather than let memory grow.
  void Write(std::string_view line);
  // Returns once everything queued so far has been written.
  void Flush();

 private:
  void Run();

  const int fd_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable written_;
  std::string pending_;
  std::size_t dropped_ = 0;
  bool writing_ = false;
  bool flushing_ = false;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace heartpage::server
