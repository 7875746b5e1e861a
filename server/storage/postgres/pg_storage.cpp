#include "server/storage/postgres/pg_storage.h"

#include <ctime>

#include "server/storage/postgres/pg_schema.h"
#include "server/storage/sql/sql_address_usage.h"

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

void PostgresStorage::Borrow(const Work& work) {
  Hasher();
  Lease db = Acquire();
  work(*db);
}

void PostgresStorage::Transact(const Work& work, bool synced) {
  Hasher();
  Lease db = Acquire();
  db->announced.clear();
  db->Transaction(
      [&] {
        work(*db);
        return 0;
      },
      synced);
  for (const PgAnnouncement& announcement : db->announced) AwaitDropped(announcement);
  db->announced.clear();
}

void PostgresStorage::Announce(SqlSession& db, std::string_view name, ChangedBy /*by*/) {
  auto& connection = static_cast<PgConnection&>(db);
  connection.announced.push_back(AnnounceIn(connection, name));
}

StoreResult PostgresStorage::StorePage(const MachineIdHash& owner, std::string_view name,
                                       std::string_view bytes, const AddressBudget& sender,
                                       const PageGate& gate, std::string_view compressed) {
  Hasher();
  const std::string etag = PageEtag(bytes);
  const std::int64_t day = UsageDay(std::time(nullptr));
  Lease db = Acquire();
  PgAnnouncement announcement;
  const StoreResult result = db->Transaction([&]() -> StoreResult {
    const PgResult claim =
        db->Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 FOR SHARE", {name});
    if (claim.Rows() == 0) return StoreResult::kUnclaimed;
    if (claim.Get(0, 0) != owner.hex()) return StoreResult::kNotOwner;
    const PgResult before =
        db->Run("SELECT octet_length(内容) FROM 页面 WHERE 文件名 = $1 FOR UPDATE", {name});
    const std::int64_t old_size = before.Rows() == 1 ? before.Int(0, 0) : 0;
    const std::int64_t growth = static_cast<std::int64_t>(bytes.size()) - old_size;
    // The one row of the total serialises the stores of all servers, but
    // only while they commit. A page that does not grow may always be
    // replaced, so an owner can still make room, or fix a page, when full.
    if (growth != 0) {
      const PgResult total =
          db->Run("SELECT 页面字节 + 媒体字节 FROM 用量 WHERE 编号 = 1 FOR UPDATE");
      if (growth > 0 && static_cast<std::uint64_t>(total.Int(0, 0) + growth) > page_limit_)
        return StoreResult::kOverQuota;
    }
    if (growth > 0 && !sender.key.empty()) {
      // After the total, as media lock them: another server storing for the
      // same address waits for this one's count.
      const AddressDay today = LockUsage(*db, sender.key, day);
      const std::uint64_t grown = static_cast<std::uint64_t>(growth);
      const StoreResult share = PageShareVerdict(
          sender, grown, today.pages, PagesSince(*db, sender.key, day - kAddressUsageDays + 1));
      if (share != StoreResult::kStored) return share;
      AddUsage(*db, sender.key, day, {.pages = grown});
    }
    if (growth != 0)
      db->Run("UPDATE 用量 SET 页面字节 = 页面字节 + $1::bigint WHERE 编号 = 1",
              {std::to_string(growth)});
    db->Run(
        "INSERT INTO 页面 (文件名, 内容, 修改时间, 标签, 压缩) "
        "VALUES ($1, $2, extract(epoch FROM now())::bigint, $3, $4) "
        "ON CONFLICT (文件名) DO UPDATE SET 内容 = $2, 修改时间 = excluded.修改时间, 标签 = $3, "
        "压缩 = $4",
        // Never NULL, which says "not known": empty bytes say "not worth it".
        {name, PgValue::Bytes(bytes), etag,
         PgValue::Bytes(compressed.data() != nullptr ? compressed : std::string_view(""))});
    StoreGate(*db, name, gate);
    db->Run("DELETE FROM 撤下 WHERE 文件名 = $1", {name});
    announcement = AnnounceIn(*db, name);
    return StoreResult::kStored;
  });
  if (result == StoreResult::kStored) AwaitDropped(announcement);
  return result;
}

PgAnnouncement PostgresStorage::AnnounceIn(PgConnection& db, std::string_view name) {
  PgAnnouncement announcement;
  announcement.name = name;
  // Delivered to every listening server when, and only if, this commits;
  // those listening now are those that must confirm.
  announcement.transaction = db.Run(
                                   "SELECT pg_current_xact_id()::text, "
                                   "pg_notify($1, $2 || ' ' || pg_current_xact_id()::text)",
                                   {kPageChannel, name})
                                 .Get(0, 0);
  const PgResult listening = db.Run(
      "SELECT pid::text FROM pg_stat_activity "
      "WHERE application_name = $1 AND datname = current_database()",
      {PageWatch::kSessionName});
  for (int row = 0; row < listening.Rows(); ++row)
    announcement.watches.emplace_back(listening.Get(row, 0));
  return announcement;
}

void PostgresStorage::AwaitDropped(const PgAnnouncement& announcement) {
  const std::string& name = announcement.name;
  // With no server listening, none keeps pages it would have to drop.
  if (!announcement.watches.empty() &&
      !watch_.AwaitDropped(announcement.transaction, announcement.watches, kConfirmationWait))
    note_("change of \"" + name + "\" acknowledged before every server confirmed " +
          "dropping the old page within " + std::to_string(kConfirmationWait.count()) + " ms");
}

std::shared_ptr<const StoredPage> PostgresStorage::LoadPage(std::string_view name) {
  Hasher();
  Lease db = Acquire();
  const PgResult row = db->Run(
      "SELECT 内容, 修改时间, 标签, EXISTS (SELECT 1 FROM admin_withheld WHERE name = $1), "
      "COALESCE(g.opens, 0), COALESCE(g.code_hash, ''), COALESCE(g.hint, ''), 压缩 "
      "FROM 页面 LEFT JOIN page_gates AS g ON g.name = 文件名 WHERE 文件名 = $1",
      {name}, /*binary=*/true);
  if (row.Rows() == 0) return nullptr;
  return std::make_shared<const StoredPage>(
      StoredPage{std::string(row.Get(0, 0)),
                 row.BinaryInt(0, 1),
                 std::string(row.Get(0, 2)),
                 {},
                 std::string(row.Get(0, 7)),
                 row.Get(0, 3) == std::string_view("\1", 1),
                 {row.BinaryInt(0, 4), std::string(row.Get(0, 5)), std::string(row.Get(0, 6))},
                 row.IsNull(0, 7)});
}

void PostgresStorage::Backup(const std::filesystem::path& /*file*/) {
  throw StorageError("a PostgreSQL database is copied with pg_dump");
}

}  // namespace heartpage::server
