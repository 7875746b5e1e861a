#pragma once

// The SQLite connection of SqliteStorage, shared with its schema and its
// change watch.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "server/storage/sql/sql_session.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {

// How long a statement waits for another process's write lock. Short: a
// request that cannot get in is better answered "busy" than left hanging.
inline constexpr int kBusyTimeoutMs = 2000;

// How much of the database file each connection maps into memory: all of it
// that SQLite as Debian builds it maps (2 GB); it reads on past that.
inline constexpr const char* kMapDatabase = "PRAGMA mmap_size=2147418112";

// The rules' statements as SQLite spells them: ?n for $n, and no lock words,
// since a write transaction here holds the whole file.
std::string SqliteSpelling(std::string_view sql);

// One open database handle with its prepared statements.
class SqliteStorage::Connection final : public SqlSession {
 public:
  Connection(const std::filesystem::path& file, const std::string& vfs) {
    const int rc = sqlite3_open_v2(file.c_str(), &db_,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                   vfs.empty() ? nullptr : vfs.c_str());
    if (rc != SQLITE_OK) {
      const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      throw StorageError("cannot open " + file.string() + ": " + why);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // FULL: the WAL is synced at every commit, so an acknowledged store is on
    // disk even if the machine, not only the process, goes down.
    try {
      Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
      // Reads take the database's pages where the kernel keeps them, with no
      // system call and no copy into SQLite's own cache for each: a page
      // read past the server's cache spans several of them.
      Exec(kMapDatabase);
    } catch (...) {
      sqlite3_close(db_);  // a full disk refuses a new file's journal mode
      throw;
    }
  }
  ~Connection() override {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // A lock that outlasted the busy timeout is worth telling apart: the
  // request may be asked again, the database is fine.
  [[noreturn]] static void Throw(int rc, const std::string& why) {
    if ((rc & 0xff) == SQLITE_BUSY) throw StorageBusy(why);
    throw StorageError(why);
  }

  void Exec(const char* sql) {
    char* message = nullptr;
    if (const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message); rc != SQLITE_OK) {
      const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
      sqlite3_free(message);
      Throw(rc, why);
    }
  }

  // Runs `work` in a write transaction taken up front (BEGIN IMMEDIATE), so
  // two writers never both read and then fail to upgrade their lock.
  //
  // A commit that need not reach the disk by itself (`synced` false) is
  // written to the WAL without syncing it; it survives a crash of the process
  // all the same, and the next synced commit makes it durable with its own,
  // since the WAL is synced as a whole.
  template <typename Work>
  auto Write(Work&& work, bool synced = true) {
    if (!synced) Exec("PRAGMA synchronous=NORMAL");
    // BEGIN too can fail (a lock held too long, an I/O error); the connection
    // must still go back to the pool synced in full, or the next store made
    // on it would be acknowledged before it is on the disk.
    try {
      Exec("BEGIN IMMEDIATE");
      auto result = work();
      Exec("COMMIT");
      if (!synced) Exec("PRAGMA synchronous=FULL");
      return result;
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      if (!synced) sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
      throw;
    }
  }

  SqlDialect Dialect() const override { return SqlDialect::kSqlite; }

 private:
  class Cursor;
  std::unique_ptr<SqlCursor> Start(const char* sql,
                                   std::initializer_list<SqlValue> values) override;

  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
};

}  // namespace heartpage::server
