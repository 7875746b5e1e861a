// The tables of visitors' reports and of the operator's deny list in SQLite,
// created when missing.
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

}  // namespace heartpage::server
