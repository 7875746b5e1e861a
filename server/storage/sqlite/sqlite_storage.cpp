#include "server/storage/sqlite/sqlite_storage.h"

#include <chrono>
#include <functional>
#include <thread>

#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_memory.h"
#include "server/storage/sqlite/sqlite_schema.h"

namespace heartpage::server {

SqliteStorage::SqliteStorage(std::filesystem::path file, std::string key,
                             const StorageOptions& options,
                             const std::function<void(const std::string&)>& note, std::string vfs)
    : SqlStorage(options),
      file_(std::move(file)),
      key_(std::move(key)),
      hash_(key_),
      vfs_(std::move(vfs)) {
  KeepSqliteLargeBlocks();
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  OpenSqliteSchema(*db, hash_, file_.string(), note);
  // The connection that opened the database is the first of them.
  std::vector<Lease> more;
  for (std::size_t i = 1; i < options.connections; ++i) {
    more.push_back(Acquire());
    // A connection opens its journal files on first use.
    more.back()->Run("SELECT 1 FROM 系统设置");
  }
}

SqliteStorage::~SqliteStorage() = default;

SqliteStorage::Lease SqliteStorage::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(connection));
    }
  }
  return Lease(*this, std::make_unique<Connection>(file_, vfs_));
}

void SqliteStorage::Release(std::unique_ptr<Connection> connection) {
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(connection));
}

void SqliteStorage::Borrow(const SessionJob& job) {
  Lease db = Acquire();
  job(*db);
}

void SqliteStorage::Transact(const SessionJob& job, bool synced) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  db->Write(
      [&] {
        job(*db);
        return 0;
      },
      synced);
}

void SqliteStorage::ForEachClaim(const std::function<void(const Claim&)>& take) {
  Borrow([&](SqlSession& db) {
    for (SqlRows rows = db.Run("SELECT 硬盘ID摘要, 文件名, 认领时间 FROM 免费 ORDER BY 序号"); rows;
         rows.Next())
      take({MachineIdHash(rows.Text(0)), rows.Text(1), rows.Text(2)});
  });
}

void SqliteStorage::ForEachPage(
    const std::function<void(const std::string& name, const StoredPage&)>& take) {
  Borrow([&](SqlSession& db) {
    for (SqlRows rows =
             db.Run("SELECT 文件名, 内容, 修改时间, 标签, COALESCE(g.opens, 0), "
                    "COALESCE(g.code_hash, ''), "
                    "COALESCE(g.hint, '') FROM 页面 LEFT JOIN page_gates AS g ON g.name = 文件名 "
                    "ORDER BY 文件名");
         rows; rows.Next())
      take(rows.Text(0), StoredPage{rows.Text(1),
                                    rows.Int(2),
                                    rows.Text(3),
                                    {},
                                    {},
                                    false,
                                    {rows.Int(4), rows.Text(5), rows.Text(6)}});
  });
}

std::string SqliteStorage::IntegrityCheck() {
  std::string result;
  Borrow([&](SqlSession& db) {
    for (SqlRows rows = db.Run("PRAGMA integrity_check"); rows; rows.Next())
      result += (result.empty() ? "" : "\n") + rows.Text(0);
  });
  return result;
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
