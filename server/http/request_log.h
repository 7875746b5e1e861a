#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace heartpage::server {

struct Audit;

// A request path for the log: control characters and non-ASCII bytes escaped,
// so that a request cannot forge log lines.
std::string LoggablePath(std::string_view target);
// A reason for the log, to stand between double quotes: spaces stay,
// whatever could end the quotes or the line is escaped.
std::string LoggableText(std::string_view text);

// One line of the request log: who asked what, and how it ended.
struct LogEntry {
  std::string_view method;
  std::string_view target;
  unsigned status = 0;
  std::size_t bytes = 0;
  std::chrono::steady_clock::time_point started;  // none: no time is told
  std::string_view client;
  const Audit* audit = nullptr;  // endpoint requests only
  std::string_view outcome;      // the refusal's reason, for errors
};
// The line (with its newline) that tells `entry`, which took until `now`.
std::string FormatLogLine(const LogEntry& entry, std::chrono::steady_clock::time_point now);

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
