#include "server/storage/postgres/pg_storage.h"

#include <algorithm>

#include "server/storage/postgres/pg_schema.h"

namespace heartpage::server {
namespace {

// How long a request waits for a connection of the pool when all are lent.
constexpr auto kPoolWait = std::chrono::seconds(5);
// How often a database that is down is tried again, unless the watch hears it
// is back sooner.
constexpr auto kRetryAfter = std::chrono::seconds(1);
// How long a store waits for every server to drop the old page; a server
// that takes longer is hung, and must not hang every store with it.
constexpr auto kConfirmationWait = std::chrono::milliseconds(1000);

}  // namespace

PostgresStorage::PostgresStorage(std::string uri, const StorageOptions& options, Note note)
    : SqlStorage(options),
      uri_(std::move(uri)),
      capacity_(std::max<std::size_t>(1, options.connections)),
      note_(note ? std::move(note) : [](const std::string&) {}),
      watch_(uri_, note_, [this] { OpenGate(); }) {
  try {
    Hasher();
    // Stores wait for the other servers' confirmations, which only a
    // listening watch hears.
    watch_.AwaitWatching(kConfirmationWait * 3);
  } catch (const DatabaseUnavailable& error) {
    note_(std::string(error.what()) + "; answering 503 until it can be reached");
  }
  OpenConnections();
}

PostgresStorage::~PostgresStorage() = default;

bool PostgresStorage::Ready() {
  try {
    Hasher();
    return true;
  } catch (const StorageError&) {
    return false;
  }
}

const MachineIdHasher& PostgresStorage::Hasher() {
  if (auto ready = std::atomic_load(&hasher_)) return *ready;
  // One request tries; the others meanwhile fail at once rather than queue
  // behind a connection attempt.
  std::unique_lock lock(setup_mutex_, std::try_to_lock);
  if (!lock) throw DatabaseUnavailable("database unavailable: connecting");
  if (auto ready = std::atomic_load(&hasher_)) return *ready;
  CheckGate();
  try {
    Lease db = Acquire();
    auto hasher = std::make_shared<const MachineIdHasher>(MigratePostgres(*db, note_));
    std::atomic_store(&hasher_, hasher);
    return *hasher;
  } catch (const StorageError& error) {
    CloseGate(error.what());
    throw;
  }
}

void PostgresStorage::CheckGate() {
  std::lock_guard lock(gate_mutex_);
  if (std::chrono::steady_clock::now() < gate_opens_) throw DatabaseUnavailable(unavailable_);
}

void PostgresStorage::CloseGate(const std::string& why) {
  std::lock_guard lock(gate_mutex_);
  gate_opens_ = std::chrono::steady_clock::now() + kRetryAfter;
  unavailable_ = why;
}

void PostgresStorage::OpenGate() {
  std::lock_guard lock(gate_mutex_);
  gate_opens_ = {};
}

PostgresStorage::Lease PostgresStorage::Acquire() {
  std::unique_lock lock(mutex_);
  for (;;) {
    while (!idle_.empty()) {
      std::unique_ptr<PgConnection> connection = std::move(idle_.back());
      idle_.pop_back();
      if (connection->StillUp()) return Lease(*this, std::move(connection));
      --open_;
    }
    if (open_ < capacity_) {
      ++open_;
      lock.unlock();
      try {
        CheckGate();
        return Lease(*this, std::make_unique<PgConnection>(uri_));
      } catch (const StorageError& error) {
        if (dynamic_cast<const DatabaseUnavailable*>(&error) != nullptr) CloseGate(error.what());
        lock.lock();
        --open_;
        returned_.notify_one();
        throw;
      }
    }
    if (!returned_.wait_for(lock, kPoolWait, [&] { return !idle_.empty() || open_ < capacity_; }))
      throw StorageBusy("every database connection is in use");
  }
}

void PostgresStorage::Release(std::unique_ptr<PgConnection> connection) {
  std::unique_lock lock(mutex_);
  if (connection->Broken())
    --open_;
  else
    idle_.push_back(std::move(connection));
  returned_.notify_one();
  lock.unlock();
  // A broken connection is closed here, outside the lock.
}

void PostgresStorage::OpenConnections() {
  if (!Ready()) return;
  std::vector<Lease> leases;
  try {
    while (leases.size() < capacity_) leases.push_back(Acquire());
  } catch (const StorageError&) {
    // The pool fills as requests need it.
  }
}

void PostgresStorage::Borrow(const SessionJob& job) {
  Hasher();
  Lease db = Acquire();
  job(*db);
}

void PostgresStorage::Transact(const SessionJob& job, bool synced) {
  Hasher();
  Lease db = Acquire();
  db->announced.clear();
  db->Transaction(
      [&] {
        job(*db);
        return 0;
      },
      synced);
  for (const PgAnnouncement& announcement : db->announced) AwaitDropped(announcement);
  db->announced.clear();
}

void PostgresStorage::Announce(SqlSession& db, std::string_view name, ChangedBy by) {
  auto& connection = static_cast<PgConnection&>(db);
  PgAnnouncement& announcement = connection.announced.emplace_back();
  announcement.name = name;
  // Delivered to every listening server when, and only if, this commits;
  // those listening now are those that must confirm, but for this server's
  // own watch when an owner made the change: that went through this
  // server's cache, which drops the page itself before the change is
  // acknowledged (CachingStorage), while the operator's tools change pages
  // beside it. One statement: every round trip inside the transaction holds
  // the page's row lock longer.
  const int own_watch = by == ChangedBy::kOwner ? watch_.Session() : 0;
  const PgResult announced = connection.Run(
      "SELECT pg_current_xact_id()::text, "
      "pg_notify($1, $2 || ' ' || pg_current_xact_id()::text), "
      "(SELECT string_agg(pid::text, ' ') FROM pg_stat_activity "
      "WHERE application_name = $3 AND datname = current_database() AND pid <> $4)",
      {kPageChannel, name, PageWatch::kSessionName, own_watch});
  announcement.transaction = announced.Get(0, 0);
  if (own_watch != 0) watch_.NoteOwnStore(announcement.transaction);
  for (std::string_view pids = announced.Get(0, 2); !pids.empty();) {
    const std::size_t space = std::min(pids.find(' '), pids.size());
    announcement.watches.emplace_back(pids.substr(0, space));
    pids.remove_prefix(std::min(space + 1, pids.size()));
  }
}

void PostgresStorage::AwaitDropped(const PgAnnouncement& announcement) {
  const std::string& name = announcement.name;
  // With no server listening, none keeps pages it would have to drop.
  if (!announcement.watches.empty() &&
      !watch_.AwaitDropped(announcement.transaction, announcement.watches, kConfirmationWait))
    note_("change of \"" + name + "\" acknowledged before every server confirmed " +
          "dropping the old page within " + std::to_string(kConfirmationWait.count()) + " ms");
}

void PostgresStorage::Backup(const std::filesystem::path& /*file*/) {
  throw StorageError("a PostgreSQL database is copied with pg_dump");
}

}  // namespace heartpage::server
