#include "server/storage/postgres/pg_watch.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "server/storage/postgres/pg_schema.h"

namespace heartpage::server {
namespace {

// Confirmations kept for stores still being acknowledged.
constexpr std::size_t kRemembered = 4096;

bool IsNumber(std::string_view text) {
  return !text.empty() && text.size() < 24 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

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

bool PageWatch::AwaitDropped(const std::string& transaction,
                             const std::vector<std::string>& sessions,
                             std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return confirmed_.wait_for(lock, limit, [&] {
    const auto it = dropped_.find(transaction);
    return it != dropped_.end() && std::ranges::all_of(sessions, [&](const std::string& session) {
             return it->second.contains(session);
           });
  });
}

bool PageWatch::AwaitWatching(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return confirmed_.wait_for(lock, limit, [&] { return watching_.load(); });
}

std::unique_ptr<PgConnection> PageWatch::Listen() {
  auto connection = std::make_unique<PgConnection>(uri_);
  // Named only once listening: whoever finds a watch by its name can count
  // on it to hear what is committed from then on.
  connection->Exec(std::string("LISTEN ") + kPageChannel + "; LISTEN " + kDroppedChannel +
                   "; SET application_name TO '" + kSessionName + "'");
  return connection;
}

void PageWatch::NoteOwnStore(std::string transaction) {
  std::lock_guard lock(mutex_);
  own_stores_.push_back(std::move(transaction));
  if (own_stores_.size() > kRemembered) own_stores_.pop_front();
}

// A page notice is the page's name and, after a space, its store's
// transaction; a confirmation is the transaction and the confirming session.
bool PageWatch::Drain(PgConnection& connection) {
  PGconn* conn = connection.raw();
  if (PQconsumeInput(conn) == 0 || PQstatus(conn) != CONNECTION_OK) return false;
  for (;;) {
    std::string confirm;  // the transactions whose pages this server dropped
    {
      std::lock_guard lock(mutex_);
      bool heard = false;
      while (PGnotify* notice = PQnotifies(conn)) {
        const std::string_view text = notice->extra;
        const std::size_t space = text.find(' ');
        const std::string_view first = text.substr(0, space);
        const std::string_view second =
            space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        if (std::string_view(notice->relname) == kPageChannel) {
          // This server's own store: its cache dropped the page already,
          // and a late drop would only lose the page read since.
          if (const auto own = std::find(own_stores_.begin(), own_stores_.end(), second);
              own != own_stores_.end()) {
            own_stores_.erase(own);
            PQfreemem(notice);
            continue;
          }
          if (sink_ != nullptr) sink_->PageChanged(first);
          if (IsNumber(second))
            confirm += std::string(confirm.empty() ? "" : ",") + "'" + std::string(second) + "'";
        } else if (IsNumber(first) && IsNumber(second)) {
          auto [it, added] = dropped_.try_emplace(std::string(first));
          if (added) transactions_.push_back(it->first);
          it->second.emplace(second);
          heard = true;
        }
        PQfreemem(notice);
      }
      while (transactions_.size() > kRemembered) {
        dropped_.erase(transactions_.front());
        transactions_.pop_front();
      }
      if (heard) confirmed_.notify_all();
    }
    if (confirm.empty()) return true;
    // What arrives meanwhile is queued by libpq and read in the next round.
    try {
      connection.Exec(std::string("SELECT pg_notify('") + kDroppedChannel +
                      "', t || ' ' || pg_backend_pid()) FROM unnest(ARRAY[" + confirm + "]) t");
    } catch (const StorageError&) {
      return false;
    }
  }
}

bool PageWatch::Wait(int fd, int timeout_ms) {
  pollfd fds[2] = {{wake_, POLLIN, 0}, {fd, POLLIN, 0}};
  const int count = fd >= 0 ? 2 : 1;
  while (poll(fds, count, timeout_ms) < 0 && errno == EINTR) {
  }
  return !stopping_;
}

void PageWatch::Run() {
  int delay_ms = 250;
  bool reported = false;
  while (!stopping_) {
    std::unique_ptr<PgConnection> connection;
    try {
      connection = Listen();
    } catch (const StorageError& error) {
      if (!reported && note_)
        note_(std::string("not watching page changes, pages are read from the database: ") +
              error.what());
      reported = true;
      Wait(-1, delay_ms);
      delay_ms = std::min(delay_ms * 2, 5000);
      continue;
    }
    {
      std::lock_guard lock(mutex_);
      watching_ = true;
      session_ = PQbackendPID(connection->raw());
      // What was read before this moment was read unwatched.
      if (sink_ != nullptr) sink_->AllPagesChanged();
      confirmed_.notify_all();
    }
    if (listening_) listening_();
    if (reported && note_) note_("watching page changes again");
    reported = false;
    delay_ms = 250;
    while (Wait(PQsocket(connection->raw()), -1) && Drain(*connection)) {
    }
    {
      std::lock_guard lock(mutex_);
      watching_ = false;
      session_ = 0;
      confirmed_.notify_all();
    }
    if (stopping_) return;
    if (note_) note_("lost the database connection that watches page changes");
    reported = true;
  }
}

}  // namespace heartpage::server
