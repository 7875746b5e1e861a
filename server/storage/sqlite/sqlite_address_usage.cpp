// The bytes each client address sent, in SQLite: the table of usage by
// address and day, and the address of each preview.
#include "server/storage/sqlite/sqlite_address_usage.h"

#include "server/storage/sqlite/sqlite_connection.h"

namespace heartpage::server {

void AddAddressUsage(SqliteStorage::Connection& db) {
  db.Exec(R"sql(
CREATE TABLE IF NOT EXISTS 地址用量 (
  地址 TEXT NOT NULL,
  日 INTEGER NOT NULL,
  媒体字节 INTEGER NOT NULL DEFAULT 0,
  预览字节 INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (地址, 日)
);
CREATE INDEX IF NOT EXISTS 地址用量_日 ON 地址用量 (日);
)sql");
  // Previews stored before addresses were counted belong to none.
  bool counted = false;
  {
    auto column = db.Prepare("SELECT 1 FROM pragma_table_info('预览') WHERE name = '地址'");
    counted = column.Step();
  }
  if (!counted) db.Exec("ALTER TABLE 预览 ADD COLUMN 地址 TEXT NOT NULL DEFAULT ''");
  db.Exec("CREATE INDEX IF NOT EXISTS 预览_地址 ON 预览 (地址, 到期时间)");
  // Pages were counted by address later: what they took before counts for
  // nobody.
  bool pages_counted = false;
  {
    auto column = db.Prepare("SELECT 1 FROM pragma_table_info('地址用量') WHERE name = '页面字节'");
    pages_counted = column.Step();
  }
  if (!pages_counted)
    db.Exec("ALTER TABLE 地址用量 ADD COLUMN 页面字节 INTEGER NOT NULL DEFAULT 0");
}

AddressDay UsageOn(SqliteStorage::Connection& db, std::string_view key, std::int64_t day) {
  auto query =
      db.Prepare("SELECT 媒体字节, 预览字节, 页面字节 FROM 地址用量 WHERE 地址 = ? AND 日 = ?");
  query.Bind(1, key).Bind(2, day);
  if (!query.Step()) return {};
  return {static_cast<std::uint64_t>(query.Int(0)), static_cast<std::uint64_t>(query.Int(1)),
          static_cast<std::uint64_t>(query.Int(2))};
}

std::uint64_t MediaSince(SqliteStorage::Connection& db, std::string_view key,
                         std::int64_t first_day) {
  auto query =
      db.Prepare("SELECT COALESCE(SUM(媒体字节), 0) FROM 地址用量 WHERE 地址 = ? AND 日 >= ?");
  query.Bind(1, key).Bind(2, first_day);
  query.Step();
  return static_cast<std::uint64_t>(query.Int(0));
}

std::uint64_t PagesSince(SqliteStorage::Connection& db, std::string_view key,
                         std::int64_t first_day) {
  auto query =
      db.Prepare("SELECT COALESCE(SUM(页面字节), 0) FROM 地址用量 WHERE 地址 = ? AND 日 >= ?");
  query.Bind(1, key).Bind(2, first_day);
  query.Step();
  return static_cast<std::uint64_t>(query.Int(0));
}

void AddUsage(SqliteStorage::Connection& db, std::string_view key, std::int64_t day,
              const AddressDay& added) {
  if (key.empty() || (added.media == 0 && added.previews == 0 && added.pages == 0)) return;
  auto add = db.Prepare(
      "INSERT INTO 地址用量 (地址, 日, 媒体字节, 预览字节, 页面字节) VALUES (?1, ?2, ?3, ?4, ?5) "
      "ON CONFLICT (地址, 日) DO UPDATE SET 媒体字节 = 媒体字节 + ?3, 预览字节 = 预览字节 + ?4, "
      "页面字节 = 页面字节 + ?5");
  add.Bind(1, key)
      .Bind(2, day)
      .Bind(3, static_cast<std::int64_t>(added.media))
      .Bind(4, static_cast<std::int64_t>(added.previews))
      .Bind(5, static_cast<std::int64_t>(added.pages));
  add.Step();
}

void PruneUsage(SqliteStorage::Connection& db, std::int64_t first_day) {
  auto prune = db.Prepare("DELETE FROM 地址用量 WHERE 日 < ?");
  prune.Bind(1, first_day);
  prune.Step();
}

}  // namespace heartpage::server
