#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/storage/pool_lease.h"
#include "server/storage/postgres/pg_connection.h"
#include "server/storage/postgres/pg_watch.h"
#include "server/storage/sql/sql_storage.h"
#include "server/storage/storage.h"

namespace heartpage::server {

// Storage in a PostgreSQL database that several server processes share.
// Names are unique by the database's constraint, a store is one transaction
// acknowledged only once committed to disk, and every store is announced to
// the other processes (PageWatch): it is acknowledged once they all dropped
// the old page.
//
// The database may be down when the server starts or go away later: requests
// that need it then fail with DatabaseUnavailable (the caller answers 503)
// at once; the database is tried again a second later, or as soon as the
// watch has it back.
class PostgresStorage final : public SqlStorage {
 public:
  using Note = std::function<void(const std::string&)>;

  // Up to `options.connections` connections at once, opened now when the
  // database can be reached (the pool fills as requests need it otherwise).
  // Throws StorageError when the database refuses us or was written by a
  // newer server; a database that cannot be reached yet is reported through
  // `note` and tried again later.
  PostgresStorage(std::string uri, const StorageOptions& options, Note note);
  ~PostgresStorage() override;
  PostgresStorage(const PostgresStorage&) = delete;
  PostgresStorage& operator=(const PostgresStorage&) = delete;

  // pg_dump does it; this says so.
  void Backup(const std::filesystem::path& file) override;

  void WatchPages(PageChangeSink* sink) override { watch_.SetSink(sink); }
  bool MayKeepPages() override { return watch_.Watching(); }

  // Whether the schema is in place and the key known.
  bool Ready();

  friend class PoolLease<PostgresStorage, PgConnection>;
  using Lease = PoolLease<PostgresStorage, PgConnection>;

 private:
  void Borrow(const SessionJob& job) override;
  void Transact(const SessionJob& job, bool synced) override;
  // Announces the change to every server, and notes which watches must
  // confirm it.
  void Announce(SqlSession& db, std::string_view name, ChangedBy by) override;
  // After the commit: waits for those confirmations.
  void AwaitDropped(const PgAnnouncement& announcement);

  Lease Acquire();
  void Release(std::unique_ptr<PgConnection> connection);
  // Opens connections up to the pool's size, when the database is up.
  void OpenConnections();
  // The hasher, once the database has been reached and brought up to date;
  // throws DatabaseUnavailable before.
  const MachineIdHasher& Hasher() override;
  // After a failed attempt to reach the database, the next waits a while,
  // so that requests fail fast instead of each waiting for a connection.
  void CheckGate();
  void CloseGate(const std::string& why);
  void OpenGate();

  const std::string uri_;
  const std::size_t capacity_;
  const Note note_;

  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<PgConnection>> idle_;
  std::size_t open_ = 0;  // idle and lent

  std::mutex setup_mutex_;
  std::shared_ptr<const MachineIdHasher> hasher_;

  std::mutex gate_mutex_;
  std::chrono::steady_clock::time_point gate_opens_{};
  std::string unavailable_;  // why the last attempt failed

  PageWatch watch_;
};

}  // namespace heartpage::server
