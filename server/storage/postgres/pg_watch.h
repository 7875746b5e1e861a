#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/storage/postgres/pg_connection.h"
#include "server/storage/storage.h"

namespace heartpage::server {

// Keeps the pages a server holds in memory in step with the stores of every
// server on the database, through PostgreSQL's LISTEN/NOTIFY on a connection
// of its own:
//  - a store announces its page's name and its transaction on kPageChannel;
//  - each watch tells its sink to drop the page, then confirms on
//    kDroppedChannel with its session's id;
//  - the storing server acknowledges the store once every watch that was
//    listening when it committed has confirmed (AwaitDropped), so no server
//    can answer with the old page after that.
// While the connection is down nothing would be heard, so Watching() is
// false and the sink hears that anything may have changed once listening
// resumes. Pages kept meanwhile are still served: while the database is down
// nobody can change them.
class PageWatch {
 public:
  using Note = std::function<void(const std::string&)>;

  // Watches show in pg_stat_activity under this name once they listen.
  static constexpr const char* kSessionName = "heartpage-watch";

  // `listening` is called each time listening starts: the database is up.
  PageWatch(std::string uri, Note note, std::function<void()> listening);
  ~PageWatch();
  PageWatch(const PageWatch&) = delete;
  PageWatch& operator=(const PageWatch&) = delete;

  void SetSink(PageChangeSink* sink);
  bool Watching() const { return watching_; }

  // The session id of this watch's connection while it listens; 0 when not.
  int Session() const { return session_; }
  // The store made in `transaction` is this server's and, announced while
  // this watch listened as Session(), waits for no confirmation of it; the
  // server's cache drops its page itself (CachingStorage), so the watch
  // neither drops nor confirms it.
  void NoteOwnStore(std::string transaction);

  // Waits, up to `limit`, until listening.
  bool AwaitWatching(std::chrono::milliseconds limit);

  // Waits, up to `limit`, until each of `sessions` (the watches listening at
  // the commit, by session id) has dropped the page of the store made in
  // `transaction`, as this watch hears. False when not all did in time.
  bool AwaitDropped(const std::string& transaction, const std::vector<std::string>& sessions,
                    std::chrono::milliseconds limit);

 private:
  void Run();
  std::unique_ptr<PgConnection> Listen();
  // Handles what arrived and confirms the drops. False when the connection
  // broke.
  bool Drain(PgConnection& connection);
  // Waits up to `timeout_ms` for `fd` to have something, or for the end;
  // false at the end.
  bool Wait(int fd, int timeout_ms);

  const std::string uri_;
  const Note note_;
  const std::function<void()> listening_;
  std::mutex mutex_;  // the sink and the confirmations
  PageChangeSink* sink_ = nullptr;
  std::condition_variable confirmed_;
  std::map<std::string, std::set<std::string>> dropped_;  // transaction → sessions
  std::deque<std::string> transactions_;                  // of dropped_, oldest first
  // NoteOwnStore()s, oldest first; one whose store rolled back is never heard, and
  // falls off the end.
  std::deque<std::string> own_stores_;
  std::atomic<bool> watching_ = false;
  std::atomic<int> session_ = 0;
  std::atomic<bool> stopping_ = false;
  int wake_ = -1;  // an eventfd that ends the thread's waits
  std::thread thread_;
};

}  // namespace heartpage::server
