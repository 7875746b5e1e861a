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

std::vector<DenyEntry> SqlStorage::DeniedList() {
  std::vector<std::pair<std::string, std::string>> rows = Read([](SqlSession& db) {
    std::vector<std::pair<std::string, std::string>> found;
    for (SqlRows row = db.Run("SELECT 类别, 内容 FROM 禁止"); row; row.Next())
      found.emplace_back(row.Text(0), row.Text(1));
    return found;
  });
  // In the bytes' order, whatever the database's collation.
  std::sort(rows.begin(), rows.end());
  std::vector<DenyEntry> list;
  for (auto& [kind, value] : rows)
    list.push_back({kind == "host" ? DenyKind::kHost : DenyKind::kWord, std::move(value)});
  return list;
}

}  // namespace heartpage::server
