// Visitors' reports and the operator's deny list.
#include <algorithm>

#include "server/storage/sql/sql_storage.h"

namespace heartpage::server {

ReportResult SqlStorage::AddReport(std::string_view page, std::string_view reason,
                                   std::int64_t now) {
  // The count and the insert in one statement, so that servers adding at
  // once cannot both pass the bound by much; it is a guard, not an exact
  // number.
  return Write([&](SqlSession& db) {
    return db.Run(
               "INSERT INTO 举报 (页面, 理由, 举报时间) SELECT $1, $2, $3 "
               "WHERE (SELECT count(*) FROM 举报) < $4 RETURNING 编号",
               {page, reason, now, kMaxOpenReports})
               ? ReportResult::kStored
               : ReportResult::kFull;
  });
}

std::vector<Report> SqlStorage::ListReports(std::string_view page, std::size_t limit) {
  return Read([&](SqlSession& db) {
    std::vector<Report> reports;
    for (SqlRows rows =
             db.Run("SELECT 编号, 页面, 理由, 举报时间 FROM 举报 WHERE $1 = '' OR 页面 = $1 "
                    "ORDER BY 编号 DESC LIMIT $2",
                    {page, limit});
         rows; rows.Next())
      reports.push_back({rows.Int(0), rows.Text(1), rows.Text(2), rows.Int(3)});
    return reports;
  });
}

bool SqlStorage::DismissReport(std::int64_t id) {
  return Write([&](SqlSession& db) {
    return static_cast<bool>(db.Run("DELETE FROM 举报 WHERE 编号 = $1 RETURNING 编号", {id}));
  });
}

bool SqlStorage::AddDenied(const DenyEntry& entry, std::int64_t now) {
  return Write([&](SqlSession& db) {
    return static_cast<bool>(
        db.Run("INSERT INTO 禁止 (类别, 内容, 添加时间) VALUES ($1, $2, $3) "
               "ON CONFLICT DO NOTHING RETURNING 1",
               {DenyKindName(entry.kind), entry.value, now}));
  });
}

bool SqlStorage::RemoveDenied(const DenyEntry& entry) {
  return Write([&](SqlSession& db) {
    return static_cast<bool>(db.Run("DELETE FROM 禁止 WHERE 类别 = $1 AND 内容 = $2 RETURNING 1",
                                    {DenyKindName(entry.kind), entry.value}));
  });
}

namespace {

// In the bytes' order, whatever the database's collation.
std::vector<DenyEntry> DenyList(std::vector<std::pair<std::string, std::string>> rows) {
  std::sort(rows.begin(), rows.end());
  std::vector<DenyEntry> list;
  for (auto& [kind, value] : rows)
    list.push_back({kind == "host" ? DenyKind::kHost : DenyKind::kWord, std::move(value)});
  return list;
}

}  // namespace

std::vector<DenyEntry> SqlStorage::DeniedList() {
  return DenyList(Read([](SqlSession& db) {
    std::vector<std::pair<std::string, std::string>> found;
    for (SqlRows row = db.Run("SELECT 类别, 内容 FROM 禁止"); row; row.Next())
      found.emplace_back(row.Text(0), row.Text(1));
    return found;
  }));
}

StoreStanding SqlStorage::StandingOfStore(const MachineIdHash& owner, std::string_view name) {
  StoreStanding standing;
  std::vector<std::pair<std::string, std::string>> denied;
  Read([&](SqlSession& db) {
    // One row for each entry of the deny list, or one with none; the
    // questions asked once, beside each.
    SqlRows row = db.Run(
        "SELECT EXISTS (SELECT 1 FROM admin_blocked WHERE owner = $1), "
        "EXISTS (SELECT 1 FROM admin_withheld WHERE name = $2), "
        "(SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $2 ORDER BY 序号 LIMIT 1), d.类别, d.内容 "
        "FROM (SELECT 1) AS one LEFT JOIN 禁止 AS d ON true",
        {owner.hex(), name});
    standing.owner_blocked = row.Truth(0);
    standing.page_withheld = row.Truth(1);
    if (!row.IsNull(2)) standing.name_owner = MachineIdHash(row.Text(2));
    denied.clear();
    for (; row; row.Next())
      if (!row.IsNull(3)) denied.emplace_back(row.Text(3), row.Text(4));
  });
  standing.denied = DenyList(std::move(denied));
  return standing;
}

}  // namespace heartpage::server
