#include "server/pg_watch.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "server/pg_schema.h"

namespace heartpage::server {

PageWatch::PageWatch(std::string uri, Note note, std::function<void()> listening)
    : uri_(std::move(uri)), note_(std::move(note)), listening_(std::move(listening)) {
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
  thread_ = std::thread([this] { Run(); });
}

PageWatch::~PageWatch() {
  stopping_ = true;
  const std::uint64_t one = 1;
  (void)!write(wake_, &one, sizeof one);
  thread_.join();
  close(wake_);
}

void PageWatch::SetSink(PageChangeSink* sink) {
  std::lock_guard lock(mutex_);
  sink_ = sink;
}

void PageWatch::CatchUp() {
  if (!watching_) return;
  std::lock_guard lock(mutex_);
  if (connection_ && !Drain()) Lost();
}

// A notice is the page's name and, after a space, its store's transaction.
bool PageWatch::Drain() {
  constexpr std::size_t kRecent = 4096;
  PGconn* conn = connection_->raw();
  if (PQconsumeInput(conn) == 0 || PQstatus(conn) != CONNECTION_OK) return false;
  bool any = false;
  while (PGnotify* notice = PQnotifies(conn)) {
    const std::string_view text = notice->extra;
    const std::size_t space = text.find(' ');
    if (sink_ != nullptr) sink_->PageChanged(text.substr(0, space));
    if (space != std::string_view::npos) {
      if (recent_.size() == kRecent) recent_.pop_front();
      recent_.emplace_back(text.substr(space + 1));
      any = true;
    }
    PQfreemem(notice);
  }
  if (any) heard_.notify_all();
  return true;
}

bool PageWatch::AwaitHeard(const std::string& transaction, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return heard_.wait_for(lock, limit, [&] {
    return !watching_ || std::find(recent_.rbegin(), recent_.rend(), transaction) != recent_.rend();
  }) && watching_;
}

// Under mutex_. What the sink keeps stays until listening resumes: the
// database is most likely down for every server, and then no page changes.
void PageWatch::Lost() {
  watching_ = false;
  connection_.reset();
  heard_.notify_all();
}

void PageWatch::Listen() {
  auto connection = std::make_unique<PgConnection>(uri_);
  connection->Exec(std::string("LISTEN ") + kPageChannel);
  std::lock_guard lock(mutex_);
  connection_ = std::move(connection);
  watching_ = true;
  // What was read before this moment was read unwatched.
  if (sink_ != nullptr) sink_->AllPagesChanged();
}

bool PageWatch::Wait(int fd, int timeout_ms) {
  pollfd fds[2] = {{wake_, POLLIN, 0}, {fd, POLLIN, 0}};
  const int count = fd >= 0 ? 2 : 1;
  while (poll(fds, count, timeout_ms) < 0 && errno == EINTR) {
  }
  return !stopping_;
}

void PageWatch::Run() {
  using namespace std::chrono;
  int delay_ms = 250;
  bool reported = false;
  while (!stopping_) {
    try {
      Listen();
      if (listening_) listening_();
      if (reported && note_) note_("watching page changes again");
      reported = false;
      delay_ms = 250;
    } catch (const StorageError& error) {
      if (!reported && note_)
        note_(std::string("not watching page changes, pages are read from the database: ") +
              error.what());
      reported = true;
      Wait(-1, delay_ms);
      delay_ms = std::min(delay_ms * 2, 5000);
      continue;
    }
    for (;;) {
      int fd;
      {
        std::lock_guard lock(mutex_);
        if (!connection_) break;  // CatchUp() found it broken
        fd = PQsocket(connection_->raw());
      }
      if (!Wait(fd, -1)) return;
      std::lock_guard lock(mutex_);
      if (!connection_) break;
      if (!Drain()) {
        Lost();
        break;
      }
    }
    if (note_ && !reported) note_("lost the database connection that watches page changes");
    reported = true;
  }
}

}  // namespace heartpage::server
