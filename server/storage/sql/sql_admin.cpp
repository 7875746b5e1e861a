// The operator's decisions, each with its line in the log. Those that change
// what a page answers are announced like a store, so that every server drops
// the page before the tool reports the action done.
#include <ctime>

#include "server/storage/sql/sql_storage.h"
#include "server/storage/utc_text.h"

namespace heartpage::server {
namespace {

std::int64_t Now() {
  return std::time(nullptr);
}

void Log(SqlSession& db, std::string_view action, std::string_view target,
         std::string_view reason) {
  db.Run("INSERT INTO admin_log (at, action, target, reason) VALUES ($1, $2, $3, $4)",
         {Now(), action, target, reason});
}

bool Claimed(SqlSession& db, std::string_view name) {
  return static_cast<bool>(db.Run("SELECT 1 FROM 免费 WHERE 文件名 = $1", {name}));
}

const std::string kNameColumns =
    "SELECT f.文件名, f.硬盘ID摘要, f.认领时间, p.修改时间, COALESCE(octet_length(p.内容), 0), "
    "w.name IS NOT NULL, b.owner IS NOT NULL FROM 免费 f "
    "LEFT JOIN 页面 p ON p.文件名 = f.文件名 "
    "LEFT JOIN admin_withheld w ON w.name = f.文件名 "
    "LEFT JOIN admin_blocked b ON b.owner = f.硬盘ID摘要 ";

std::vector<NameRecord> ReadNames(SqlRows rows) {
  std::vector<NameRecord> names;
  for (; rows; rows.Next()) {
    NameRecord record;
    record.name = rows.Text(0);
    record.owner = MachineIdHash(rows.Text(1));
    record.claimed_at = rows.Text(2);
    if (!rows.IsNull(3)) record.stored_at = rows.Int(3);
    record.size = rows.Count(4);
    record.withheld = rows.Truth(5);
    record.owner_blocked = rows.Truth(6);
    names.push_back(std::move(record));
  }
  return names;
}

}  // namespace

bool SqlStorage::OwnerBlocked(const MachineIdHash& owner) {
  return Read([&](SqlSession& db) {
    return static_cast<bool>(db.Run("SELECT 1 FROM admin_blocked WHERE owner = $1", {owner.hex()}));
  });
}

bool SqlStorage::PageWithheld(std::string_view name) {
  return Read([&](SqlSession& db) {
    return static_cast<bool>(db.Run("SELECT 1 FROM admin_withheld WHERE name = $1", {name}));
  });
}

bool SqlStorage::MediaRemoved(std::string_view sha256) {
  return Read([&](SqlSession& db) {
    return static_cast<bool>(
        db.Run("SELECT 1 FROM admin_removed_media WHERE sha256 = $1", {sha256}));
  });
}

std::vector<NameRecord> SqlStorage::ListNames(std::int64_t since) {
  static const std::string sql = kNameColumns + "WHERE f.认领时间 >= $1 ORDER BY f.序号";
  const std::string claimed_since = UtcText(since);
  return Read([&](SqlSession& db) { return ReadNames(db.Run(sql.c_str(), {claimed_since})); });
}

std::optional<NameRecord> SqlStorage::FindName(std::string_view name) {
  static const std::string sql = kNameColumns + "WHERE f.文件名 = $1";
  std::vector<NameRecord> names =
      Read([&](SqlSession& db) { return ReadNames(db.Run(sql.c_str(), {name})); });
  if (names.empty()) return std::nullopt;
  return std::move(names.front());
}

AdminResult SqlStorage::WithholdPage(std::string_view name, std::string_view reason) {
  return Write([&](SqlSession& db) {
    if (db.Run("SELECT 1 FROM admin_withheld WHERE name = $1", {name}))
      return AdminResult::kAlready;
    if (!Claimed(db, name)) return AdminResult::kUnknown;
    if (!db.Run("INSERT INTO admin_withheld (name, at, reason) VALUES ($1, $2, $3) "
                "ON CONFLICT (name) DO NOTHING RETURNING 1",
                {name, Now(), reason}))
      return AdminResult::kAlready;
    Log(db, "takedown", name, reason);
    Announce(db, name, ChangedBy::kOperator);
    return AdminResult::kDone;
  });
}

AdminResult SqlStorage::RestorePage(std::string_view name, std::string_view reason) {
  return Write([&](SqlSession& db) {
    if (!db.Run("DELETE FROM admin_withheld WHERE name = $1 RETURNING 1", {name}))
      return Claimed(db, name) ? AdminResult::kAlready : AdminResult::kUnknown;
    Log(db, "restore", name, reason);
    Announce(db, name, ChangedBy::kOperator);
    return AdminResult::kDone;
  });
}

AdminResult SqlStorage::BlockOwner(std::string_view name, std::string_view reason) {
  return Write([&](SqlSession& db) {
    SqlRows claim = db.Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1", {name});
    if (!claim) return AdminResult::kUnknown;
    const std::string owner = claim.Text(0);
    if (!db.Run("INSERT INTO admin_blocked (owner, name, at, reason) VALUES ($1, $2, $3, $4) "
                "ON CONFLICT (owner) DO NOTHING RETURNING 1",
                {owner, name, Now(), reason}))
      return AdminResult::kAlready;
    Log(db, "block-owner", name, reason);
    return AdminResult::kDone;
  });
}

AdminResult SqlStorage::UnblockOwner(std::string_view name, std::string_view reason) {
  return Write([&](SqlSession& db) {
    SqlRows found = db.Run(
        "SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 "
        "UNION ALL SELECT owner FROM admin_blocked WHERE name = $1",
        {name});
    if (!found) return AdminResult::kUnknown;
    const std::string owner = found.Text(0);
    if (!db.Run("DELETE FROM admin_blocked WHERE owner = $1 RETURNING 1", {owner}))
      return AdminResult::kAlready;
    Log(db, "unblock-owner", name, reason);
    return AdminResult::kDone;
  });
}

SiteFigures SqlStorage::Figures(int days) {
  const std::int64_t first_day = Now() / 86400 - (days - 1);
  const std::string first_claim = UtcText(first_day * 86400);
  return Read([&](SqlSession& db) {
    SiteFigures figures;
    SqlRows totals = db.Run(
        "SELECT (SELECT COUNT(*) FROM 免费), (SELECT COUNT(*) FROM 页面), "
        "(SELECT COALESCE(SUM(octet_length(内容)), 0) FROM 页面), (SELECT COUNT(*) FROM 媒体), "
        "(SELECT COALESCE(SUM(大小), 0) FROM 媒体), (SELECT COUNT(*) FROM admin_withheld), "
        "(SELECT COUNT(*) FROM admin_blocked)");
    figures.names = totals.Count(0);
    figures.pages = totals.Count(1);
    figures.page_bytes = totals.Count(2);
    figures.media_files = totals.Count(3);
    figures.media_bytes = totals.Count(4);
    figures.withheld = totals.Count(5);
    figures.blocked_owners = totals.Count(6);
    for (SqlRows claims = db.Run(
             "SELECT substr(认领时间, 1, 10), COUNT(*) FROM 免费 WHERE 认领时间 >= $1 GROUP BY 1",
             {first_claim});
         claims; claims.Next())
      AddDayCount(figures.days, claims.Text(0), claims.Count(1), true);
    // By day number, which both databases divide alike.
    for (SqlRows stores =
             db.Run("SELECT 修改时间 / 86400, COUNT(*) FROM 页面 WHERE 修改时间 >= $1 GROUP BY 1",
                    {first_day * 86400});
         stores; stores.Next())
      AddDayCount(figures.days, UtcText(stores.Int(0) * 86400).substr(0, 10), stores.Count(1),
                  false);
    return figures;
  });
}

std::vector<AddressUsage> SqlStorage::BusiestAddresses(int days, std::size_t count) {
  // Days since the epoch, UTC, as the usage by address is kept.
  const std::int64_t first = Now() / 86400 - (days - 1);
  return Read([&](SqlSession& db) {
    std::vector<AddressUsage> busiest;
    for (SqlRows rows = db.Run("SELECT 地址, SUM(媒体字节 + 预览字节 + 页面字节) AS 字节 FROM "
                               "地址用量 WHERE 日 >= $1 "
                               "GROUP BY 地址 ORDER BY 字节 DESC, 地址 LIMIT $2",
                               {first, count});
         rows; rows.Next())
      busiest.push_back({rows.Text(0), rows.Count(1)});
    return busiest;
  });
}

std::vector<AdminLogEntry> SqlStorage::AdminLog(std::size_t limit) {
  return Read([&](SqlSession& db) {
    std::vector<AdminLogEntry> entries;
    for (SqlRows rows = db.Run(
             "SELECT at, action, target, reason FROM admin_log ORDER BY id DESC LIMIT $1", {limit});
         rows; rows.Next())
      entries.push_back({rows.Int(0), rows.Text(1), rows.Text(2), rows.Text(3)});
    return entries;
  });
}

void SqlStorage::LogAdminAction(std::string_view action, std::string_view target,
                                std::string_view reason) {
  Write([&](SqlSession& db) { Log(db, action, target, reason); });
}

}  // namespace heartpage::server
