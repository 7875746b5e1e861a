#include "server/storage/sqlite/sqlite_migration.h"

#include <unordered_map>
#include <vector>

#include "protocol/page_name.h"
#include "server/storage/sqlite/sqlite_connection.h"

namespace heartpage::server {
namespace {

constexpr const char* kNewTables = R"sql(
CREATE TABLE 免费_新 (
  硬盘ID摘要 TEXT NOT NULL,
  文件名 TEXT NOT NULL UNIQUE CHECK (文件名 = lower(文件名)),
  认领时间 TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS 迁移搁置 (
  文件名 TEXT NOT NULL,
  硬盘ID摘要 TEXT,
  认领时间 TEXT,
  内容 BLOB,
  修改时间 INTEGER,
  原因 TEXT NOT NULL
);
)sql";

void SetPageAside(SqliteStorage::Connection& db, const std::string& name,
                  const std::string& reason) {
  auto copy = db.Prepare(
      "INSERT INTO 迁移搁置 (文件名, 内容, 修改时间, 原因) "
      "SELECT 文件名, 内容, 修改时间, ?2 FROM 页面 WHERE 文件名 = ?1");
  copy.Bind(1, name).Bind(2, reason);
  copy.Step();
  auto remove = db.Prepare("DELETE FROM 页面 WHERE 文件名 = ?");
  remove.Bind(1, name);
  remove.Step();
}

}  // namespace

bool HasColumn(SqliteStorage::Connection& db, std::string_view table, std::string_view column) {
  return static_cast<bool>(
      db.Run("SELECT 1 FROM pragma_table_info($1) WHERE name = $2", {table, column}));
}

void NumberClaims(SqliteStorage::Connection& db) {
  // The triggers on the old table go with it; the schema makes them again.
  db.Exec(R"sql(
DROP TRIGGER IF EXISTS receipts_go_with_claim;
DROP TRIGGER IF EXISTS receipt_history_goes_with_claim;
CREATE TABLE 免费_编号 (
  序号 INTEGER PRIMARY KEY,
  硬盘ID摘要 TEXT NOT NULL,
  文件名 TEXT NOT NULL UNIQUE CHECK (文件名 = lower(文件名)),
  认领时间 TEXT NOT NULL
);
INSERT INTO 免费_编号 SELECT rowid, 硬盘ID摘要, 文件名, 认领时间 FROM 免费;
DROP TABLE 免费;
ALTER TABLE 免费_编号 RENAME TO 免费;
CREATE INDEX 免费_硬盘ID摘要 ON 免费 (硬盘ID摘要);
)sql");
}

void NumberPreviews(SqliteStorage::Connection& db) {
  // Numbered in the order they were made, which their order was.
  db.Exec(R"sql(
CREATE TABLE 预览_编号 (
  序号 INTEGER PRIMARY KEY,
  令牌 TEXT NOT NULL UNIQUE,
  硬盘ID摘要 TEXT NOT NULL,
  内容 BLOB NOT NULL,
  创建时间 INTEGER NOT NULL,
  到期时间 INTEGER NOT NULL,
  标签 TEXT NOT NULL,
  地址 TEXT NOT NULL DEFAULT ''
);
INSERT INTO 预览_编号 (令牌, 硬盘ID摘要, 内容, 创建时间, 到期时间, 标签, 地址)
  SELECT 令牌, 硬盘ID摘要, 内容, 创建时间, 到期时间, 标签, 地址 FROM 预览 ORDER BY 创建时间, rowid;
DROP TABLE 预览;
ALTER TABLE 预览_编号 RENAME TO 预览;
CREATE INDEX 预览_硬盘ID摘要 ON 预览 (硬盘ID摘要, 到期时间);
CREATE INDEX 预览_到期时间 ON 预览 (到期时间);
CREATE INDEX 预览_地址 ON 预览 (地址, 到期时间);
)sql");
}

bool HasClearMachineIds(SqliteStorage::Connection& db) {
  return HasColumn(db, "免费", "硬盘ID");
}

void MigrateToHashedIdsAndSmallNames(SqliteStorage::Connection& db, const MachineIdHasher& hash,
                                     const std::function<void(const std::string&)>& note) {
  // Freed pages are zeroed, so the identifiers do not linger in the file.
  db.Exec("PRAGMA secure_delete=ON");
  db.Exec(kNewTables);

  // Small-letter name to the spelling of the claim that keeps it.
  std::unordered_map<std::string, std::string> kept;
  std::size_t claims = 0;
  {
    auto old = db.Prepare("SELECT 硬盘ID, 文件名, 认领时间 FROM 免费 ORDER BY 认领时间, rowid");
    while (old.Step()) {
      ++claims;
      const std::string owner = hash(old.Text(0)).hex();
      const std::string name = old.Text(1);
      const std::string claimed_at = old.Text(2);
      const auto [first, fresh] = kept.emplace(PageNameKey(name), name);
      if (fresh) {
        auto insert =
            db.Prepare("INSERT INTO 免费_新 (硬盘ID摘要, 文件名, 认领时间) VALUES (?, ?, ?)");
        insert.Bind(1, owner).Bind(2, first->first).Bind(3, claimed_at);
        insert.Step();
        continue;
      }
      const std::string reason = "differs only in case from the earlier claim " + first->second;
      auto aside = db.Prepare(
          "INSERT INTO 迁移搁置 (文件名, 硬盘ID摘要, 认领时间, 原因) VALUES (?, ?, ?, ?)");
      aside.Bind(1, name).Bind(2, owner).Bind(3, claimed_at).Bind(4, reason);
      aside.Step();
      note("claim of \"" + name + "\" (" + claimed_at + ") set aside in table 迁移搁置: it " +
           reason);
    }
  }

  // A page goes with its claim: one kept under another spelling means the
  // page belonged to a claim that was set aside.
  std::vector<std::string> pages_aside;
  {
    auto pages = db.Prepare("SELECT 文件名 FROM 页面");
    while (pages.Step()) {
      const std::string name = pages.Text(0);
      const auto owner = kept.find(PageNameKey(name));
      if (owner != kept.end() && owner->second != name) pages_aside.push_back(name);
    }
  }
  for (const std::string& name : pages_aside) {
    SetPageAside(db, name, "page of a claim set aside");
    note("page \"" + name + "\" set aside in table 迁移搁置 with its claim");
  }
  db.Exec("UPDATE OR IGNORE 页面 SET 文件名 = lower(文件名) WHERE 文件名 <> lower(文件名)");
  // Left over: pages of no claim at all whose names collided.
  std::vector<std::string> unclaimed;
  {
    auto left = db.Prepare("SELECT 文件名 FROM 页面 WHERE 文件名 <> lower(文件名)");
    while (left.Step()) unclaimed.push_back(left.Text(0));
  }
  for (const std::string& name : unclaimed) {
    SetPageAside(db, name, "page of no claim, differs only in case from another");
    note("page \"" + name + "\" of no claim set aside in table 迁移搁置");
  }

  db.Exec("DROP TABLE 免费; ALTER TABLE 免费_新 RENAME TO 免费;");
  note("database brought up to date: " + std::to_string(claims) +
       " claims now hold a keyed hash of their machine identifier, names in small letters");
}

void ForgetClearMachineIds(SqliteStorage::Connection& db) {
  // The zeroed pages replace the old ones in the database file, and the log
  // that held both is emptied.
  db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace heartpage::server
