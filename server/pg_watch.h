#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/pg_connection.h"
#include "server/storage.h"

namespace heartpage::server {

// Listens, on a connection of its own, for the names of pages that any
// server stores (PostgreSQL's LISTEN/NOTIFY), and tells the sink. While the
// connection is down nothing would be heard, so Watching() is false and the
// sink hears that anything may have changed, at the break and again once
// listening resumes. Pages kept meanwhile are still served: while the
// database is down nobody can change them.
class PageWatch {
 public:
  using Note = std::function<void(const std::string&)>;

  // `listening` is called each time listening starts: the database is up.
  PageWatch(std::string uri, Note note, std::function<void()> listening);
  ~PageWatch();
  PageWatch(const PageWatch&) = delete;
  PageWatch& operator=(const PageWatch&) = delete;

  void SetSink(PageChangeSink* sink);
  bool Watching() const { return watching_; }
  // Hands the sink what has arrived on the connection and not yet been read.
  void CatchUp();

  // Waits, up to `limit`, until the store of transaction `transaction` has
  // been heard here. PostgreSQL signals every listening server at the same
  // moment of the commit, so a store acknowledged only once its own server
  // heard it has, in practice, reached every other server before its sender
  // can ask one of them for the page. False when not heard in time, or when
  // not watching.
  bool AwaitHeard(const std::string& transaction, std::chrono::milliseconds limit);

 private:
  void Run();
  void Listen();
  // Under mutex_. False when the connection broke.
  bool Drain();
  void Lost();
  // Waits up to `timeout` for the connection to have something, or for the
  // end; false at the end.
  bool Wait(int fd, int timeout_ms);

  const std::string uri_;
  const Note note_;
  const std::function<void()> listening_;
  std::mutex mutex_;  // the connection, the sink and what was heard
  std::unique_ptr<PgConnection> connection_;
  PageChangeSink* sink_ = nullptr;
  std::condition_variable heard_;
  std::deque<std::string> recent_;  // transactions of the stores heard last
  std::atomic<bool> watching_ = false;
  std::atomic<bool> stopping_ = false;
  int wake_ = -1;  // an eventfd that ends the thread's waits
  std::thread thread_;
};

}  // namespace heartpage::server
