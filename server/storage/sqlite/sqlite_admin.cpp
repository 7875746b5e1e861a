// The operator's decisions in SQLite, each with its line in the log and,
// where a page changes, a row for the server on the folder to hear of
// (sqlite_change_watch.cpp).
#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {
namespace {

// Changes kept for servers to read; a server that missed more was stopped,
// and starts with nothing in memory.
constexpr std::int64_t kChangesKept = 1000;

using Connection = SqliteStorage::Connection;

// Tells the server on the file: the page of `name` changed.
void RecordChange(Connection& db, std::string_view name) {
  auto insert = db.Prepare("INSERT INTO admin_changes (name) VALUES (?)");
  insert.Bind(1, name);
  insert.Step();
  auto prune =
      db.Prepare("DELETE FROM admin_changes WHERE seq <= (SELECT MAX(seq) FROM admin_changes) - ?");
  prune.Bind(1, kChangesKept);
  prune.Step();
}

}  // namespace

void SqliteStorage::Announce(SqlSession& db, std::string_view name, ChangedBy by) {
  if (by == ChangedBy::kOperator) RecordChange(static_cast<Connection&>(db), name);
}

void AddAdminTables(Connection& db) {
  db.Exec(R"sql(
CREATE TABLE IF NOT EXISTS admin_log (
  id INTEGER PRIMARY KEY,
  at INTEGER NOT NULL,
  action TEXT NOT NULL,
  target TEXT NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS admin_withheld (
  name TEXT PRIMARY KEY,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS admin_blocked (
  owner TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS admin_blocked_name ON admin_blocked (name);
CREATE TABLE IF NOT EXISTS admin_removed_media (
  sha256 TEXT PRIMARY KEY,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS admin_changes (
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL
);
)sql");
}

void SqliteStorage::Backup(const std::filesystem::path& file) {
  sqlite3* source = nullptr;
  sqlite3* target = nullptr;
  const auto close = [&] {
    sqlite3_close(source);
    sqlite3_close(target);
  };
  if (sqlite3_open_v2(file_.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
      sqlite3_open_v2(file.c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
          SQLITE_OK) {
    const std::string why = target != nullptr   ? sqlite3_errmsg(target)
                            : source != nullptr ? sqlite3_errmsg(source)
                                                : "out of memory";
    close();
    throw StorageError("cannot open for the backup: " + why);
  }
  sqlite3_busy_timeout(source, kBusyTimeoutMs);
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
  if (backup == nullptr) {
    const std::string why = sqlite3_errmsg(target);
    close();
    throw StorageError("backup failed: " + why);
  }
  // In steps, so that the servers' writers are never held up for long; a
  // write between steps makes SQLite start the copy over, which it does by
  // itself.
  int rc = SQLITE_OK;
  do {
    rc = sqlite3_backup_step(backup, 256);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  const std::string why = sqlite3_errmsg(target);
  close();
  if (rc != SQLITE_DONE) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    throw StorageError("backup failed: " + why);
  }
}

}  // namespace heartpage::server
