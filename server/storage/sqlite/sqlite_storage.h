#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/storage/pool_lease.h"
#include "server/storage/sql/sql_storage.h"
#include "server/storage/storage.h"

struct sqlite3;

namespace heartpage::server {

// Storage in one SQLite file (WAL journal, full synchronisation so that an
// acknowledged write survives a crash). Pages live in the database too, which
// makes a store one transaction: atomic with no temporary files to clean up.
// Each thread borrows a connection of its own from a small pool.
class SqliteStorage final : public SqlStorage {
 public:
  // Opens or creates the database, creating the schema on first use and
  // bringing a database of an older server up to date, which `note` is told
  // about. Machine identifiers are hashed under `key` (kept apart from the
  // database, so that a copy of the database alone gives nothing away).
  // Throws StorageError when the file cannot be opened or is not our
  // database. `options.connections` are opened at once. `vfs` names a registered SQLite VFS to open
  // the file through (tests put one between the database and the disk); empty means SQLite's
  // default.
  SqliteStorage(std::filesystem::path file, std::string key, const StorageOptions& options = {},
                const std::function<void(const std::string&)>& note = {}, std::string vfs = {});
  ~SqliteStorage() override;

  SqliteStorage(const SqliteStorage&) = delete;
  SqliteStorage& operator=(const SqliteStorage&) = delete;

  // A data folder has one server (main() locks it); the operator's tools
  // change it beside that server, which hears of their changes through a
  // table of them (sqlite_change_watch.cpp).
  void WatchPages(PageChangeSink* sink) override;
  bool MayKeepPages() override { return true; }
  void Backup(const std::filesystem::path& file) override;

  // Every claim in claim order, and every page, for copying elsewhere.
  void ForEachClaim(const std::function<void(const Claim&)>& take);
  void ForEachPage(const std::function<void(const std::string& name, const StoredPage&)>& take);
  // The key machine identifiers are hashed under.
  const std::string& Key() const { return key_; }

  // "ok" or SQLite's list of problems.
  std::string IntegrityCheck();

  class Connection;

 private:
  void Borrow(const SessionJob& job) override;
  void Transact(const SessionJob& job, bool synced) override;
  // Only the operator's changes, for the server on the folder to hear of
  // (sqlite_change_watch.cpp): it makes its owners' changes itself.
  void Announce(SqlSession& db, std::string_view name, ChangedBy by) override;
  const MachineIdHasher& Hasher() override { return hash_; }

  friend class PoolLease<SqliteStorage, Connection>;
  using Lease = PoolLease<SqliteStorage, Connection>;
  Lease Acquire();
  void Release(std::unique_ptr<Connection> connection);

  std::filesystem::path file_;
  const std::string key_;
  const MachineIdHasher hash_;
  std::string vfs_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Connection>> idle_;
  // Writers of this process queue here rather than in SQLite's busy handler,
  // which polls with sleeps; the busy timeout still covers other processes.
  std::mutex write_mutex_;
  // Hears the operator's changes while a sink wants them.
  class ChangeWatch;
  friend class ChangeWatch;
  std::mutex watch_mutex_;
  std::shared_ptr<ChangeWatch> change_watch_;
};

}  // namespace heartpage::server
