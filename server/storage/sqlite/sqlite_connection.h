#pragma once

// The SQLite connection of SqliteStorage, shared with its schema migration.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/storage/sql/sql_session.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {

// How long a statement waits for another process's write lock. Short: a
// request that cannot get in is better answered "busy" than left hanging.
inline constexpr int kBusyTimeoutMs = 2000;

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

  // A prepared statement, reset and with its bindings cleared when the
  // returned handle goes out of scope.
  class Query {
   public:
    Query(Connection& connection, sqlite3_stmt* statement)
        : connection_(connection), statement_(statement) {}
    ~Query() {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, std::string_view text) {
      Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC));
      return *this;
    }
    Query& BindBlob(int index, std::string_view bytes) {
      Check(sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_STATIC));
      return *this;
    }
    Query& Bind(int index, std::int64_t number) {
      Check(sqlite3_bind_int64(statement_, index, number));
      return *this;
    }
    Query& BindOptional(int index, const std::optional<std::string>& text) {
      if (text) return Bind(index, *text);
      Check(sqlite3_bind_null(statement_, index));
      return *this;
    }
    // True while there is a row; throws on errors, SQLITE_CONSTRAINT included.
    bool Step() {
      const int rc = sqlite3_step(statement_);
      if (rc == SQLITE_ROW) return true;
      if (rc == SQLITE_DONE) return false;
      connection_.Throw(rc, sqlite3_errmsg(connection_.db_));
    }
    std::string Text(int column) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
      return text == nullptr ? std::string()
                             : std::string(text, sqlite3_column_bytes(statement_, column));
    }
    std::optional<std::string> OptionalText(int column) {
      if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
      return Text(column);
    }
    std::string Blob(int column) {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
      return bytes == nullptr ? std::string()
                              : std::string(bytes, sqlite3_column_bytes(statement_, column));
    }
    std::int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }

   private:
    void Check(int rc) {
      if (rc != SQLITE_OK) throw StorageError(sqlite3_errmsg(connection_.db_));
    }
    Connection& connection_;
    sqlite3_stmt* statement_;
  };

  Query Prepare(const char* sql) {
    auto [it, inserted] = statements_.try_emplace(sql, nullptr);
    if (inserted) {
      if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &it->second, nullptr) !=
          SQLITE_OK) {
        statements_.erase(it);
        throw StorageError(sqlite3_errmsg(db_));
      }
    }
    return Query(*this, it->second);
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
