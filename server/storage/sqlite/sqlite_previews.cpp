// The table of temporary previews in SQLite, added by schema version 3.
#include "server/storage/sqlite/sqlite_connection.h"

namespace heartpage::server {

void AddPreviewTable(SqliteStorage::Connection& db) {
  db.Exec(R"sql(
CREATE TABLE IF NOT EXISTS 预览 (
  令牌 TEXT PRIMARY KEY,
  硬盘ID摘要 TEXT NOT NULL,
  内容 BLOB NOT NULL,
  创建时间 INTEGER NOT NULL,
  到期时间 INTEGER NOT NULL,
  标签 TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS 预览_硬盘ID摘要 ON 预览 (硬盘ID摘要, 到期时间);
CREATE INDEX IF NOT EXISTS 预览_到期时间 ON 预览 (到期时间);
)sql");
}

}  // namespace heartpage::server
