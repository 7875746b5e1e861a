// How a server on a data folder hears of the changes the operator's tools
// make beside it: from a table of them that the tools write.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {
namespace {

// How often the server looks for the operator's changes: well within the
// second in which every server must follow one.
constexpr auto kChangePoll = std::chrono::milliseconds(100);
// Changes kept for servers to read; a server that missed more was stopped,
// and starts with nothing in memory.
constexpr std::int64_t kChangesKept = 1000;

}  // namespace

void SqliteStorage::Announce(SqlSession& db, std::string_view name, ChangedBy by) {
  if (by != ChangedBy::kOperator) return;
  db.Run("INSERT INTO admin_changes (name) VALUES ($1)", {name});
  db.Run("DELETE FROM admin_changes WHERE seq <= (SELECT MAX(seq) FROM admin_changes) - $1",
         {kChangesKept});
}

// A thread with a connection of its own that asks SQLite, a few times a
// second, whether anyone else wrote the file (data_version, which costs no
// read), and only then reads the changes the operator's tools recorded.
class SqliteStorage::ChangeWatch {
 public:
  // The first look before the thread starts: it forgets whatever was kept
  // before it, and a page read between the two would lose its place.
  ChangeWatch(SqliteStorage& storage, PageChangeSink* sink) : storage_(storage), sink_(sink) {
    try {
      Start();
    } catch (const StorageError&) {
      // Busy now: the thread tries again.
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~ChangeWatch() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    stop_.notify_all();
    thread_.join();
  }
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

 private:
  std::int64_t DataVersion() { return db_->Run("PRAGMA data_version").Int(0); }

  void Run() {
    std::unique_lock lock(mutex_);
    while (!stop_.wait_for(lock, kChangePoll, [this] { return stopping_; })) {
      lock.unlock();
      try {
        if (db_)
          Poll();
        else
          Start();
      } catch (const StorageError&) {
        // Busy or failing now: the changes stay in the table for the next
        // look, and a connection that could not be opened is tried again.
      }
      lock.lock();
    }
  }

  // Opened here rather than at the start of serving, which a database that
  // is busy for a moment must not stop.
  void Start() {
    auto db = std::make_unique<Connection>(storage_.file_, storage_.vfs_);
    db_ = std::move(db);
    try {
      version_ = DataVersion();
      last_ = db_->Run("SELECT COALESCE(MAX(seq), 0) FROM admin_changes").Int(0);
    } catch (...) {
      db_.reset();
      throw;
    }
    // Whatever was kept before this first look may predate a change.
    sink_->AllPagesChanged();
  }

  void Poll() {
    const std::int64_t version = DataVersion();
    if (version == version_) return;
    std::vector<std::string> names;
    for (SqlRows changes =
             db_->Run("SELECT seq, name FROM admin_changes WHERE seq > $1 ORDER BY seq", {last_});
         changes; changes.Next()) {
      last_ = changes.Int(0);
      // Older tools told of the bytes in all with an empty name; they are
      // kept in a row now.
      if (std::string name = changes.Text(1); !name.empty()) names.push_back(std::move(name));
    }
    version_ = version;
    for (const std::string& name : names) sink_->PageChanged(name);
  }

  SqliteStorage& storage_;
  PageChangeSink* const sink_;
  std::unique_ptr<Connection> db_;  // used by the thread alone
  std::int64_t version_ = 0;
  std::int64_t last_ = 0;
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopping_ = false;
  std::thread thread_;
};

void SqliteStorage::WatchPages(PageChangeSink* sink) {
  const std::lock_guard lock(watch_mutex_);
  change_watch_.reset();
  if (sink != nullptr) change_watch_ = std::make_shared<ChangeWatch>(*this, sink);
}

}  // namespace heartpage::server
