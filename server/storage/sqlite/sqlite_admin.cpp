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

// "YYYY-MM-DD HH:MM:SS" in UTC, as claim times are written.
std::string UtcText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

using Connection = SqliteStorage::Connection;

void Log(Connection& db, std::string_view action, std::string_view target,
         std::string_view reason) {
  auto insert =
      db.Prepare("INSERT INTO admin_log (at, action, target, reason) VALUES (?, ?, ?, ?)");
  insert.Bind(1, static_cast<std::int64_t>(std::time(nullptr)))
      .Bind(2, action)
      .Bind(3, target)
      .Bind(4, reason);
  insert.Step();
}

// Tells the servers on the file: the page of `name` changed, or (empty) the
// bytes in all did.
void Announce(Connection& db, std::string_view name) {
  auto insert = db.Prepare("INSERT INTO admin_changes (name) VALUES (?)");
  insert.Bind(1, name);
  insert.Step();
  auto prune =
      db.Prepare("DELETE FROM admin_changes WHERE seq <= (SELECT MAX(seq) FROM admin_changes) - ?");
  prune.Bind(1, kChangesKept);
  prune.Step();
}

bool Exists(Connection& db, const char* sql, std::string_view value) {
  auto query = db.Prepare(sql);
  query.Bind(1, value);
  return query.Step();
}

constexpr const char* kNameColumns =
    "SELECT f.文件名, f.硬盘ID摘要, f.认领时间, p.修改时间, COALESCE(LENGTH(p.内容), 0), "
    "w.name IS NOT NULL, b.owner IS NOT NULL FROM 免费 f "
    "LEFT JOIN 页面 p ON p.文件名 = f.文件名 "
    "LEFT JOIN admin_withheld w ON w.name = f.文件名 "
    "LEFT JOIN admin_blocked b ON b.owner = f.硬盘ID摘要 ";

template <typename Query>
NameRecord ReadName(Query& query) {
  NameRecord record;
  record.name = query.Text(0);
  record.owner = MachineIdHash(query.Text(1));
  record.claimed_at = query.Text(2);
  if (const auto stored = query.OptionalText(3)) record.stored_at = std::stoll(*stored);
  record.size = static_cast<std::uint64_t>(query.Int(4));
  record.withheld = query.Int(5) != 0;
  record.owner_blocked = query.Int(6) != 0;
  return record;
}

}  // namespace

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

bool SqliteStorage::OwnerBlocked(const MachineIdHash& owner) {
  Lease db = Acquire();
  return Exists(*db, "SELECT 1 FROM admin_blocked WHERE owner = ?", owner.hex());
}

bool SqliteStorage::PageWithheld(std::string_view name) {
  Lease db = Acquire();
  return Exists(*db, "SELECT 1 FROM admin_withheld WHERE name = ?", name);
}

bool SqliteStorage::MediaRemoved(std::string_view sha256) {
  Lease db = Acquire();
  return Exists(*db, "SELECT 1 FROM admin_removed_media WHERE sha256 = ?", sha256);
}

std::vector<NameRecord> SqliteStorage::ListNames(std::int64_t since) {
  static const std::string sql =
      std::string(kNameColumns) + "WHERE f.认领时间 >= ? ORDER BY f.rowid";
  Lease db = Acquire();
  auto query = db->Prepare(sql.c_str());
  // Bound, not copied: the text must outlive the query.
  const std::string claimed_since = UtcText(since);
  query.Bind(1, claimed_since);
  std::vector<NameRecord> names;
  while (query.Step()) names.push_back(ReadName(query));
  return names;
}

std::optional<NameRecord> SqliteStorage::FindName(std::string_view name) {
  static const std::string sql = std::string(kNameColumns) + "WHERE f.文件名 = ?";
  Lease db = Acquire();
  auto query = db->Prepare(sql.c_str());
  query.Bind(1, name);
  if (!query.Step()) return std::nullopt;
  return ReadName(query);
}

AdminResult SqliteStorage::WithholdPage(std::string_view name, std::string_view reason) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    if (Exists(*db, "SELECT 1 FROM admin_withheld WHERE name = ?", name))
      return AdminResult::kAlready;
    if (!Exists(*db, "SELECT 1 FROM 免费 WHERE 文件名 = ?", name)) return AdminResult::kUnknown;
    auto insert = db->Prepare("INSERT INTO admin_withheld (name, at, reason) VALUES (?, ?, ?)");
    insert.Bind(1, name).Bind(2, static_cast<std::int64_t>(std::time(nullptr))).Bind(3, reason);
    insert.Step();
    Log(*db, "takedown", name, reason);
    Announce(*db, name);
    return AdminResult::kDone;
  });
}

AdminResult SqliteStorage::RestorePage(std::string_view name, std::string_view reason) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    if (!Exists(*db, "DELETE FROM admin_withheld WHERE name = ? RETURNING 1", name))
      return Exists(*db, "SELECT 1 FROM 免费 WHERE 文件名 = ?", name) ? AdminResult::kAlready
                                                                      : AdminResult::kUnknown;
    Log(*db, "restore", name, reason);
    Announce(*db, name);
    return AdminResult::kDone;
  });
}

AdminResult SqliteStorage::BlockOwner(std::string_view name, std::string_view reason) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    std::string owner;
    {
      auto claim = db->Prepare("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = ?");
      claim.Bind(1, name);
      if (!claim.Step()) return AdminResult::kUnknown;
      owner = claim.Text(0);
    }
    auto insert = db->Prepare(
        "INSERT INTO admin_blocked (owner, name, at, reason) VALUES (?, ?, ?, ?) "
        "ON CONFLICT (owner) DO NOTHING RETURNING 1");
    insert.Bind(1, owner)
        .Bind(2, name)
        .Bind(3, static_cast<std::int64_t>(std::time(nullptr)))
        .Bind(4, reason);
    if (!insert.Step()) return AdminResult::kAlready;
    Log(*db, "block-owner", name, reason);
    return AdminResult::kDone;
  });
}

AdminResult SqliteStorage::UnblockOwner(std::string_view name, std::string_view reason) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    std::string owner;
    {
      auto find = db->Prepare(
          "SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = ?1 "
          "UNION ALL SELECT owner FROM admin_blocked WHERE name = ?1");
      find.Bind(1, name);
      if (!find.Step()) return AdminResult::kUnknown;
      owner = find.Text(0);
    }
    if (!Exists(*db, "DELETE FROM admin_blocked WHERE owner = ? RETURNING 1", owner))
      return AdminResult::kAlready;
    Log(*db, "unblock-owner", name, reason);
    return AdminResult::kDone;
  });
}

AdminResult SqliteStorage::RemoveMedia(std::string_view sha256, std::string_view reason) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  const std::string prefix = std::string(sha256) + ".";
  std::uint64_t removed_bytes = 0;
  const AdminResult result = db->Write([&] {
    bool stored = false;
    {
      auto files = db->Prepare(
          "SELECT COUNT(*), COALESCE(SUM(大小), 0) FROM 媒体 "
          "WHERE substr(名称, 1, 65) = ?");
      files.Bind(1, prefix);
      files.Step();
      stored = files.Int(0) > 0;
      removed_bytes = static_cast<std::uint64_t>(files.Int(1));
    }
    for (const char* sql : {"DELETE FROM 媒体块 WHERE substr(名称, 1, 65) = ?",
                            "DELETE FROM 媒体上传 WHERE substr(名称, 1, 65) = ?",
                            "DELETE FROM 媒体 WHERE substr(名称, 1, 65) = ?"}) {
      auto remove = db->Prepare(sql);
      remove.Bind(1, prefix);
      remove.Step();
    }
    auto refuse = db->Prepare(
        "INSERT INTO admin_removed_media (sha256, at, reason) VALUES (?, ?, ?) "
        "ON CONFLICT (sha256) DO NOTHING RETURNING 1");
    refuse.Bind(1, sha256).Bind(2, static_cast<std::int64_t>(std::time(nullptr))).Bind(3, reason);
    const bool refused_now = refuse.Step();
    if (!stored && !refused_now) return AdminResult::kAlready;
    Log(*db, "remove-media", sha256, reason);
    if (stored) Announce(*db, "");
    return stored ? AdminResult::kDone : AdminResult::kUnknown;
  });
  media_bytes_ -= std::min(media_bytes_, removed_bytes);
  return result;
}

SiteFigures SqliteStorage::Figures(int days) {
  Lease db = Acquire();
  SiteFigures figures;
  const auto count = [&](const char* sql, std::uint64_t& first, std::uint64_t* second = nullptr) {
    auto query = db->Prepare(sql);
    query.Step();
    first = static_cast<std::uint64_t>(query.Int(0));
    if (second != nullptr) *second = static_cast<std::uint64_t>(query.Int(1));
  };
  count("SELECT COUNT(*) FROM 免费", figures.names);
  count("SELECT COUNT(*), COALESCE(SUM(LENGTH(内容)), 0) FROM 页面", figures.pages,
        &figures.page_bytes);
  count("SELECT COUNT(*), COALESCE(SUM(大小), 0) FROM 媒体", figures.media_files,
        &figures.media_bytes);
  count("SELECT COUNT(*) FROM admin_withheld", figures.withheld);
  count("SELECT COUNT(*) FROM admin_blocked", figures.blocked_owners);
  const std::int64_t now = std::time(nullptr);
  const std::int64_t first = (now / 86400 - (days - 1)) * 86400;
  auto claims = db->Prepare(
      "SELECT substr(认领时间, 1, 10), COUNT(*) FROM 免费 WHERE 认领时间 >= ? GROUP BY 1");
  const std::string first_claim = UtcText(first);
  claims.Bind(1, first_claim);
  while (claims.Step())
    AddDayCount(figures.days, claims.Text(0), static_cast<std::uint64_t>(claims.Int(1)), true);
  auto stores = db->Prepare(
      "SELECT date(修改时间, 'unixepoch'), COUNT(*) FROM 页面 WHERE 修改时间 >= ? GROUP BY 1");
  stores.Bind(1, first);
  while (stores.Step())
    AddDayCount(figures.days, stores.Text(0), static_cast<std::uint64_t>(stores.Int(1)), false);
  return figures;
}

std::vector<AddressUsage> SqliteStorage::BusiestAddresses(int days, std::size_t count) {
  Lease db = Acquire();
  // Days since the epoch, UTC, as the usage by address is kept.
  const std::int64_t first = std::time(nullptr) / 86400 - (days - 1);
  auto query = db->Prepare(
      "SELECT 地址, SUM(媒体字节 + 预览字节 + 页面字节) AS 字节 FROM 地址用量 WHERE 日 >= ? "
      "GROUP BY 地址 ORDER BY 字节 DESC, 地址 LIMIT ?");
  query.Bind(1, first).Bind(2, static_cast<std::int64_t>(count));
  std::vector<AddressUsage> busiest;
  while (query.Step()) busiest.push_back({query.Text(0), static_cast<std::uint64_t>(query.Int(1))});
  return busiest;
}

std::vector<AdminLogEntry> SqliteStorage::AdminLog(std::size_t limit) {
  Lease db = Acquire();
  auto query =
      db->Prepare("SELECT at, action, target, reason FROM admin_log ORDER BY id DESC LIMIT ?");
  query.Bind(1, static_cast<std::int64_t>(limit));
  std::vector<AdminLogEntry> entries;
  while (query.Step())
    entries.push_back({query.Int(0), query.Text(1), query.Text(2), query.Text(3)});
  return entries;
}

void SqliteStorage::LogAdminAction(std::string_view action, std::string_view target,
                                   std::string_view reason) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  db->Write([&] {
    Log(*db, action, target, reason);
    return 0;
  });
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
