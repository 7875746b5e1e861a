// The table of the bytes each client address sent, in SQLite, by address and
// day, and the address of each preview.
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

}  // namespace heartpage::server
