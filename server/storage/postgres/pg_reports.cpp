// Visitors' reports and the operator's deny list in PostgreSQL, in the
// tables of their own migration.
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {

ReportResult PostgresStorage::AddReport(std::string_view page, std::string_view reason,
                                        std::int64_t now) {
  Hasher();
  Lease db = Acquire();
  // The count and the insert in one statement, so that servers adding at
  // once cannot both pass the bound by much; it is a guard, not an exact
  // number.
  const PgResult added = db->Run(
      "INSERT INTO 举报 (页面, 理由, 举报时间) SELECT $1, $2, $3::bigint "
      "WHERE (SELECT count(*) FROM 举报) < $4::bigint RETURNING 编号",
      {page, reason, std::to_string(now), std::to_string(kMaxOpenReports)});
  return added.Rows() == 0 ? ReportResult::kFull : ReportResult::kStored;
}

std::vector<Report> PostgresStorage::ListReports(std::string_view page, std::size_t limit) {
  Hasher();
  Lease db = Acquire();
  const PgResult rows = db->Run(
      "SELECT 编号, 页面, 理由, 举报时间 FROM 举报 WHERE $1 = '' OR 页面 = $1 "
      "ORDER BY 编号 DESC LIMIT $2::bigint",
      {page, std::to_string(limit)});
  std::vector<Report> reports;
  for (int row = 0; row < rows.Rows(); ++row)
    reports.push_back({rows.Int(row, 0), std::string(rows.Get(row, 1)),
                       std::string(rows.Get(row, 2)), rows.Int(row, 3)});
  return reports;
}

bool PostgresStorage::DismissReport(std::int64_t id) {
  Hasher();
  Lease db = Acquire();
  return db->Run("DELETE FROM 举报 WHERE 编号 = $1::bigint RETURNING 编号", {std::to_string(id)})
             .Rows() > 0;
}

bool PostgresStorage::AddDenied(const DenyEntry& entry, std::int64_t now) {
  Hasher();
  Lease db = Acquire();
  return db->Run(
               "INSERT INTO 禁止 (类别, 内容, 添加时间) VALUES ($1, $2, $3::bigint) "
               "ON CONFLICT DO NOTHING RETURNING 1",
               {DenyKindName(entry.kind), entry.value, std::to_string(now)})
             .Rows() > 0;
}

bool PostgresStorage::RemoveDenied(const DenyEntry& entry) {
  Hasher();
  Lease db = Acquire();
  return db->Run("DELETE FROM 禁止 WHERE 类别 = $1 AND 内容 = $2 RETURNING 1",
                 {DenyKindName(entry.kind), entry.value})
             .Rows() > 0;
}

std::vector<DenyEntry> PostgresStorage::DeniedList() {
  Hasher();
  Lease db = Acquire();
  // The bytes' order, as SQLite sorts, whatever the database's collation.
  const PgResult rows = db->Run(
      "SELECT 类别, 内容 FROM 禁止 ORDER BY 类别 COLLATE \"C\", 内容 "
      "COLLATE \"C\"");
  std::vector<DenyEntry> list;
  for (int row = 0; row < rows.Rows(); ++row)
    list.push_back({rows.Get(row, 0) == "host" ? DenyKind::kHost : DenyKind::kWord,
                    std::string(rows.Get(row, 1))});
  return list;
}

}  // namespace heartpage::server
