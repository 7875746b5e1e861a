#include "server/http/request_log.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "server/site/common/endpoint_request.h"

namespace heartpage::server {
namespace {

// Everything but plain printable ASCII (and `also`) as \xNN.
std::string Escaped(std::string_view text, std::string_view also, bool keep_spaces) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = byte >= 0x21 || (keep_spaces && byte == 0x20);
    if (!plain || byte >= 0x7F || c == '\\' || also.find(c) != std::string_view::npos) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

constexpr std::size_t kMaxPending = 4 * 1024 * 1024;
// How long the writer gathers lines after the first one arrives. Waking it
// for every line would cost a context switch per request.
constexpr auto kGather = std::chrono::milliseconds(20);

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to log to: nothing better to do
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string LoggablePath(std::string_view target) {
  return Escaped(target, "", false);
}

std::string LoggableText(std::string_view text) {
  return Escaped(text, "\"", true);
}

std::string FormatLogLine(const LogEntry& entry, std::chrono::steady_clock::time_point now) {
  const double ms = entry.started == std::chrono::steady_clock::time_point{}
                        ? 0.0
                        : std::chrono::duration<double, std::milli>(now - entry.started).count();
  // Every part that a client chose is escaped: no request can write a line
  // of its own into the log.
  std::string line = std::string(entry.method) + " " + LoggablePath(entry.target).substr(0, 300);
  char numbers[96];
  std::snprintf(numbers, sizeof numbers, " %u %zu %.2fms ", entry.status, entry.bytes, ms);
  line += numbers;
  line += LoggablePath(entry.client).substr(0, 64);
  if (entry.audit != nullptr) {
    line += ' ';
    line += entry.audit->operation.empty() ? std::string_view("-")
                                           : std::string_view(entry.audit->operation);
    line += ' ';
    line += entry.audit->name.empty() ? "-" : LoggablePath(entry.audit->name).substr(0, 64);
    line += ' ';
    line += entry.outcome.empty() ? "ok" : "\"" + LoggableText(entry.outcome.substr(0, 100)) + "\"";
  }
  line += '\n';
  return line;
}

RequestLog::RequestLog(int fd) : fd_(fd), thread_([this] { Run(); }) {}

RequestLog::~RequestLog() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void RequestLog::Write(std::string_view line) {
  bool first;
  {
    std::lock_guard lock(mutex_);
    if (pending_.size() + line.size() > kMaxPending) {
      ++dropped_;
      return;
    }
    first = pending_.empty();
    pending_.append(line);
  }
  if (first) wake_.notify_one();
}

void RequestLog::Flush() {
  std::unique_lock lock(mutex_);
  flushing_ = true;
  wake_.notify_one();
  written_.wait(lock, [this] { return pending_.empty() && !writing_; });
  flushing_ = false;
}

void RequestLog::Run() {
  std::string batch;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return done_ || !pending_.empty(); });
    if (pending_.empty() && done_) return;
    wake_.wait_for(lock, kGather, [this] { return done_ || flushing_; });
    batch.swap(pending_);
    if (dropped_ > 0) {
      batch += "heartpage-server: " + std::to_string(dropped_) + " log lines dropped\n";
      dropped_ = 0;
    }
    writing_ = true;
    lock.unlock();
    WriteAll(fd_, batch);
    batch.clear();
    lock.lock();
    writing_ = false;
    written_.notify_all();
  }
}

}  // namespace heartpage::server
