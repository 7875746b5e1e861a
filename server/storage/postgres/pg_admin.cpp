// The operator's decisions in PostgreSQL. Those that change what a page
// answers are announced like a store, so that every server drops the page
// before the tool reports the action done.
#include <ctime>

#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {
namespace {

std::string Now() {
  return std::to_string(static_cast<std::int64_t>(std::time(nullptr)));
}

void Log(PgConnection& db, std::string_view action, std::string_view target,
         std::string_view reason) {
  db.Run("INSERT INTO admin_log (at, action, target, reason) VALUES ($1::bigint, $2, $3, $4)",
         {Now(), action, target, reason});
}

bool Any(const PgResult& rows) {
  return rows.Rows() > 0;
}

constexpr const char* kNameColumns =
    "SELECT f.文件名, f.硬盘ID摘要, f.认领时间, p.修改时间, COALESCE(octet_length(p.内容), 0), "
    "w.name IS NOT NULL, b.owner IS NOT NULL FROM 免费 f "
    "LEFT JOIN 页面 p ON p.文件名 = f.文件名 "
    "LEFT JOIN admin_withheld w ON w.name = f.文件名 "
    "LEFT JOIN admin_blocked b ON b.owner = f.硬盘ID摘要 ";

std::vector<NameRecord> ReadNames(const PgResult& rows) {
  std::vector<NameRecord> names;
  for (int row = 0; row < rows.Rows(); ++row) {
    NameRecord record;
    record.name = rows.Get(row, 0);
    record.owner = MachineIdHash(std::string(rows.Get(row, 1)));
    record.claimed_at = rows.Get(row, 2);
    if (!rows.IsNull(row, 3)) record.stored_at = rows.Int(row, 3);
    record.size = static_cast<std::uint64_t>(rows.Int(row, 4));
    record.withheld = rows.Get(row, 5) == "t";
    record.owner_blocked = rows.Get(row, 6) == "t";
    names.push_back(std::move(record));
  }
  return names;
}

// "YYYY-MM-DD HH:MM:SS" in UTC, as claim times are written.
std::string UtcText(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

}  // namespace

bool PostgresStorage::OwnerBlocked(const MachineIdHash& owner) {
  Hasher();
  Lease db = Acquire();
  return Any(db->Run("SELECT 1 FROM admin_blocked WHERE owner = $1", {owner.hex()}));
}

bool PostgresStorage::PageWithheld(std::string_view name) {
  Hasher();
  Lease db = Acquire();
  return Any(db->Run("SELECT 1 FROM admin_withheld WHERE name = $1", {name}));
}

bool PostgresStorage::MediaRemoved(std::string_view sha256) {
  Hasher();
  Lease db = Acquire();
  return Any(db->Run("SELECT 1 FROM admin_removed_media WHERE sha256 = $1", {sha256}));
}

std::vector<NameRecord> PostgresStorage::ListNames(std::int64_t since) {
  static const std::string sql =
      std::string(kNameColumns) + "WHERE f.认领时间 >= $1 ORDER BY f.序号";
  Hasher();
  Lease db = Acquire();
  return ReadNames(db->Run(sql.c_str(), {UtcText(since)}));
}

std::optional<NameRecord> PostgresStorage::FindName(std::string_view name) {
  static const std::string sql = std::string(kNameColumns) + "WHERE f.文件名 = $1";
  Hasher();
  Lease db = Acquire();
  std::vector<NameRecord> names = ReadNames(db->Run(sql.c_str(), {name}));
  if (names.empty()) return std::nullopt;
  return std::move(names.front());
}

AdminResult PostgresStorage::WithholdPage(std::string_view name, std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  Announcement announcement;
  const AdminResult result = db->Transaction([&] {
    if (!Any(db->Run("SELECT 1 FROM 免费 WHERE 文件名 = $1", {name}))) return AdminResult::kUnknown;
    if (!Any(db->Run("INSERT INTO admin_withheld (name, at, reason) VALUES ($1, $2::bigint, $3) "
                     "ON CONFLICT (name) DO NOTHING RETURNING 1",
                     {name, Now(), reason})))
      return AdminResult::kAlready;
    Log(*db, "takedown", name, reason);
    announcement = Announce(*db, name);
    return AdminResult::kDone;
  });
  if (result == AdminResult::kDone) AwaitDropped(announcement, name);
  return result;
}

AdminResult PostgresStorage::RestorePage(std::string_view name, std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  Announcement announcement;
  const AdminResult result = db->Transaction([&] {
    if (!Any(db->Run("DELETE FROM admin_withheld WHERE name = $1 RETURNING 1", {name})))
      return Any(db->Run("SELECT 1 FROM 免费 WHERE 文件名 = $1", {name})) ? AdminResult::kAlready
                                                                          : AdminResult::kUnknown;
    Log(*db, "restore", name, reason);
    announcement = Announce(*db, name);
    return AdminResult::kDone;
  });
  if (result == AdminResult::kDone) AwaitDropped(announcement, name);
  return result;
}

AdminResult PostgresStorage::BlockOwner(std::string_view name, std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  return db->Transaction([&] {
    const PgResult claim = db->Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1", {name});
    if (claim.Rows() == 0) return AdminResult::kUnknown;
    if (!Any(db->Run("INSERT INTO admin_blocked (owner, name, at, reason) "
                     "VALUES ($1, $2, $3::bigint, $4) ON CONFLICT (owner) DO NOTHING RETURNING 1",
                     {claim.Get(0, 0), name, Now(), reason})))
      return AdminResult::kAlready;
    Log(*db, "block-owner", name, reason);
    return AdminResult::kDone;
  });
}

AdminResult PostgresStorage::UnblockOwner(std::string_view name, std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  return db->Transaction([&] {
    const PgResult owner = db->Run(
        "SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 "
        "UNION ALL SELECT owner FROM admin_blocked WHERE name = $1",
        {name});
    if (owner.Rows() == 0) return AdminResult::kUnknown;
    if (!Any(db->Run("DELETE FROM admin_blocked WHERE owner = $1 RETURNING 1", {owner.Get(0, 0)})))
      return AdminResult::kAlready;
    Log(*db, "unblock-owner", name, reason);
    return AdminResult::kDone;
  });
}

AdminResult PostgresStorage::RemoveMedia(std::string_view sha256, std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  const std::string prefix = std::string(sha256) + ".";
  return db->Transaction([&] {
    // The chunks and the uploads go with the file (ON DELETE CASCADE).
    const PgResult removed = db->Run(
        "WITH gone AS (DELETE FROM 媒体 WHERE left(名称, 65) = $1 RETURNING 大小) "
        "SELECT COUNT(*), COALESCE(SUM(大小), 0) FROM gone",
        {prefix});
    const bool stored = removed.Int(0, 0) > 0;
    if (stored)
      db->Run("UPDATE 用量 SET 媒体字节 = 媒体字节 - $1::bigint WHERE 编号 = 1",
              {std::string(removed.Get(0, 1))});
    const bool refused_now =
        Any(db->Run("INSERT INTO admin_removed_media (sha256, at, reason) "
                    "VALUES ($1, $2::bigint, $3) ON CONFLICT (sha256) DO NOTHING RETURNING 1",
                    {sha256, Now(), reason}));
    if (!stored && !refused_now) return AdminResult::kAlready;
    Log(*db, "remove-media", sha256, reason);
    return stored ? AdminResult::kDone : AdminResult::kUnknown;
  });
}

SiteFigures PostgresStorage::Figures(int days) {
  Hasher();
  Lease db = Acquire();
  SiteFigures figures;
  const PgResult totals = db->Run(
      "SELECT (SELECT COUNT(*) FROM 免费), (SELECT COUNT(*) FROM 页面), "
      "(SELECT COALESCE(SUM(octet_length(内容)), 0) FROM 页面), (SELECT COUNT(*) FROM 媒体), "
      "(SELECT COALESCE(SUM(大小), 0) FROM 媒体), (SELECT COUNT(*) FROM admin_withheld), "
      "(SELECT COUNT(*) FROM admin_blocked)");
  figures.names = static_cast<std::uint64_t>(totals.Int(0, 0));
  figures.pages = static_cast<std::uint64_t>(totals.Int(0, 1));
  figures.page_bytes = static_cast<std::uint64_t>(totals.Int(0, 2));
  figures.media_files = static_cast<std::uint64_t>(totals.Int(0, 3));
  figures.media_bytes = static_cast<std::uint64_t>(totals.Int(0, 4));
  figures.withheld = static_cast<std::uint64_t>(totals.Int(0, 5));
  figures.blocked_owners = static_cast<std::uint64_t>(totals.Int(0, 6));
  const std::int64_t first = (std::time(nullptr) / 86400 - (days - 1)) * 86400;
  const PgResult claims =
      db->Run("SELECT left(认领时间, 10), COUNT(*) FROM 免费 WHERE 认领时间 >= $1 GROUP BY 1",
              {UtcText(first)});
  for (int row = 0; row < claims.Rows(); ++row)
    AddDayCount(figures.days, std::string(claims.Get(row, 0)),
                static_cast<std::uint64_t>(claims.Int(row, 1)), true);
  const PgResult stores = db->Run(
      "SELECT to_char(to_timestamp(修改时间) AT TIME ZONE 'UTC', 'YYYY-MM-DD'), COUNT(*) "
      "FROM 页面 WHERE 修改时间 >= $1::bigint GROUP BY 1",
      {std::to_string(first)});
  for (int row = 0; row < stores.Rows(); ++row)
    AddDayCount(figures.days, std::string(stores.Get(row, 0)),
                static_cast<std::uint64_t>(stores.Int(row, 1)), false);
  return figures;
}

std::vector<AddressUsage> PostgresStorage::BusiestAddresses(int days, std::size_t count) {
  Hasher();
  Lease db = Acquire();
  // Days since the epoch, UTC, as the usage by address is kept.
  const std::int64_t first = std::time(nullptr) / 86400 - (days - 1);
  const PgResult rows = db->Run(
      "SELECT 地址, SUM(媒体字节 + 预览字节 + 页面字节) AS 字节 FROM 地址用量 WHERE 日 >= $1::bigint "
      "GROUP BY 地址 ORDER BY 字节 DESC, 地址 LIMIT $2::bigint",
      {std::to_string(first), std::to_string(count)});
  std::vector<AddressUsage> busiest;
  for (int row = 0; row < rows.Rows(); ++row)
    busiest.push_back(
        {std::string(rows.Get(row, 0)), static_cast<std::uint64_t>(rows.Int(row, 1))});
  return busiest;
}

std::vector<AdminLogEntry> PostgresStorage::AdminLog(std::size_t limit) {
  Hasher();
  Lease db = Acquire();
  const PgResult rows =
      db->Run("SELECT at, action, target, reason FROM admin_log ORDER BY id DESC LIMIT $1::bigint",
              {std::to_string(limit)});
  std::vector<AdminLogEntry> entries;
  for (int row = 0; row < rows.Rows(); ++row)
    entries.push_back({rows.Int(row, 0), std::string(rows.Get(row, 1)),
                       std::string(rows.Get(row, 2)), std::string(rows.Get(row, 3))});
  return entries;
}

void PostgresStorage::LogAdminAction(std::string_view action, std::string_view target,
                                     std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  Log(*db, action, target, reason);
}

void PostgresStorage::Backup(const std::filesystem::path& /*file*/) {
  throw StorageError("a PostgreSQL database is copied with pg_dump");
}

}  // namespace heartpage::server
