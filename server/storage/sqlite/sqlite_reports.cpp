// Visitors' reports and the operator's deny list in SQLite: their tables,
// created when missing, and their reads and writes.
#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {

void AddReportTables(SqliteStorage::Connection& db) {
  db.Exec(R"sql(
CREATE TABLE IF NOT EXISTS 举报 (
  编号 INTEGER PRIMARY KEY AUTOINCREMENT,
  页面 TEXT NOT NULL,
  理由 TEXT NOT NULL,
  举报时间 INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS 举报_页面 ON 举报 (页面, 编号);
CREATE TABLE IF NOT EXISTS 禁止 (
  类别 TEXT NOT NULL CHECK (类别 IN ('host', 'word')),
  内容 TEXT NOT NULL,
  添加时间 INTEGER NOT NULL,
  PRIMARY KEY (类别, 内容)
);
)sql");
}

ReportResult SqliteStorage::AddReport(std::string_view page, std::string_view reason,
                                      std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto open = db->Prepare("SELECT COUNT(*) FROM 举报");
    open.Step();
    if (open.Int(0) >= kMaxOpenReports) return ReportResult::kFull;
    auto insert = db->Prepare("INSERT INTO 举报 (页面, 理由, 举报时间) VALUES (?1, ?2, ?3)");
    insert.Bind(1, page).Bind(2, reason).Bind(3, now);
    insert.Step();
    return ReportResult::kStored;
  });
}

std::vector<Report> SqliteStorage::ListReports(std::string_view page, std::size_t limit) {
  Lease db = Acquire();
  auto query = db->Prepare(
      "SELECT 编号, 页面, 理由, 举报时间 FROM 举报 WHERE ?1 = '' OR 页面 = ?1 "
      "ORDER BY 编号 DESC LIMIT ?2");
  query.Bind(1, page).Bind(2, static_cast<std::int64_t>(limit));
  std::vector<Report> reports;
  while (query.Step())
    reports.push_back({query.Int(0), query.Text(1), query.Text(2), query.Int(3)});
  return reports;
}

bool SqliteStorage::DismissReport(std::int64_t id) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto remove = db->Prepare("DELETE FROM 举报 WHERE 编号 = ? RETURNING 编号");
    remove.Bind(1, id);
    const bool found = remove.Step();
    while (remove.Step()) {
    }
    return found;
  });
}

bool SqliteStorage::AddDenied(const DenyEntry& entry, std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto insert = db->Prepare(
        "INSERT INTO 禁止 (类别, 内容, 添加时间) VALUES (?1, ?2, ?3) ON CONFLICT DO NOTHING "
        "RETURNING 1");
    insert.Bind(1, DenyKindName(entry.kind)).Bind(2, entry.value).Bind(3, now);
    const bool added = insert.Step();
    while (insert.Step()) {
    }
    return added;
  });
}

bool SqliteStorage::RemoveDenied(const DenyEntry& entry) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto remove = db->Prepare("DELETE FROM 禁止 WHERE 类别 = ?1 AND 内容 = ?2 RETURNING 1");
    remove.Bind(1, DenyKindName(entry.kind)).Bind(2, entry.value);
    const bool found = remove.Step();
    while (remove.Step()) {
    }
    return found;
  });
}

std::vector<DenyEntry> SqliteStorage::DeniedList() {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 类别, 内容 FROM 禁止 ORDER BY 类别, 内容");
  std::vector<DenyEntry> list;
  while (query.Step())
    list.push_back({query.Text(0) == "host" ? DenyKind::kHost : DenyKind::kWord, query.Text(1)});
  return list;
}

}  // namespace heartpage::server
