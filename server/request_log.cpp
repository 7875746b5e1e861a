#include "server/request_log.h"

#include <unistd.h>

#include <cerrno>

namespace heartpage::server {
namespace {

constexpr std::size_t kMaxPending = 4 * 1024 * 1024;

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to log to: nothing better to do
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

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
  {
    std::lock_guard lock(mutex_);
    if (pending_.size() + line.size() > kMaxPending) {
      ++dropped_;
      return;
    }
    pending_.append(line);
  }
  wake_.notify_one();
}

void RequestLog::Flush() {
  std::unique_lock lock(mutex_);
  written_.wait(lock, [this] { return pending_.empty() && !writing_; });
}

void RequestLog::Run() {
  std::string batch;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return done_ || !pending_.empty(); });
    if (pending_.empty() && done_) return;
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
