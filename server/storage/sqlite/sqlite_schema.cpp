// Every table of a SQLite database, and every step from the schema of an
// older server to this one's, in the order they are taken. Tables and
// columns are made when missing, so that a step taken already is passed over
// whichever version the database says it has.
#include "server/storage/sqlite/sqlite_schema.h"

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "protocol/page_name.h"
#include "server/storage/sqlite/sqlite_connection.h"

namespace heartpage::server {
namespace {

using Note = std::function<void(const std::string&)>;

// 1: identifiers in the clear, names as sent. 2: identifiers hashed, names in
// small letters. 3: temporary previews. 4: pages taken down, and the senders'
// own files. 5: pages that open at a moment or to a code, which an older
// server would show to anyone at once. 6: claims numbered in a column of
// their own. 7: pages and previews compressed beside their bytes; rows from
// before have none (NULL), and their pages learn theirs when first served.
// 8: a page's compressed bytes ahead of its bytes as they are in the row.
constexpr int kSchemaVersion = 8;

// Settings, claims and pages, as the first server kept them but for the
// claims' order (below).
constexpr const char* kFirstTables = R"sql(
CREATE TABLE IF NOT EXISTS 系统设置 (
  编号 INTEGER PRIMARY KEY CHECK (编号 = 1),
  公告 TEXT,
  版本号 TEXT,
  下载地址 TEXT
);
INSERT OR IGNORE INTO 系统设置 (编号) VALUES (1);
CREATE TABLE IF NOT EXISTS 免费 (
  序号 INTEGER PRIMARY KEY,
  硬盘ID摘要 TEXT NOT NULL,
  文件名 TEXT NOT NULL UNIQUE CHECK (文件名 = lower(文件名)),
  认领时间 TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS 免费_硬盘ID摘要 ON 免费 (硬盘ID摘要);
CREATE TABLE IF NOT EXISTS 页面 (
  文件名 TEXT PRIMARY KEY,
  内容 BLOB NOT NULL,
  修改时间 INTEGER NOT NULL,
  标签 TEXT NOT NULL
);
)sql";

// Version 2: the claims with hashed identifiers, and where the claims and
// pages go that small letters would make two of one name.
constexpr const char* kHashedClaims = R"sql(
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

// Version 6: the claims' order in a column of their own (it was SQLite's
// rowid), which the statements of every engine name alike. The triggers on
// the old table go with it; the receipts' tables make them again.
constexpr const char* kNumberedClaims = R"sql(
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
)sql";

// Version 3: temporary previews.
constexpr const char* kPreviews = R"sql(
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
)sql";

// Version 4: pages taken down, and the senders' files in chunks of
// kMediaChunk bytes, so that reading a range of one reads only the rows that
// hold it; who sent a file is kept per sender, for their quota and for the
// sweep. Version 6: the bytes of all pages and media in one row, counted
// from what is there when it is made. Then the bytes each client address
// sent, by day.
constexpr const char* kMediaAndUsage = R"sql(
CREATE TABLE IF NOT EXISTS 撤下 (
  文件名 TEXT PRIMARY KEY,
  撤下时间 INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS 媒体 (
  名称 TEXT PRIMARY KEY,
  类型 TEXT NOT NULL,
  大小 INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS 媒体块 (
  名称 TEXT NOT NULL,
  序号 INTEGER NOT NULL,
  内容 BLOB NOT NULL,
  PRIMARY KEY (名称, 序号)
);
CREATE TABLE IF NOT EXISTS 媒体上传 (
  名称 TEXT NOT NULL,
  硬盘ID摘要 TEXT NOT NULL,
  上传时间 INTEGER NOT NULL,
  PRIMARY KEY (名称, 硬盘ID摘要)
);
CREATE INDEX IF NOT EXISTS 媒体上传_硬盘ID摘要 ON 媒体上传 (硬盘ID摘要);
CREATE TABLE IF NOT EXISTS 用量 (
  编号 INTEGER PRIMARY KEY CHECK (编号 = 1),
  页面字节 INTEGER NOT NULL,
  媒体字节 INTEGER NOT NULL
);
INSERT OR IGNORE INTO 用量 SELECT 1, (SELECT COALESCE(SUM(LENGTH(内容)), 0) FROM 页面),
  (SELECT COALESCE(SUM(大小), 0) FROM 媒体);
CREATE TABLE IF NOT EXISTS 地址用量 (
  地址 TEXT NOT NULL,
  日 INTEGER NOT NULL,
  媒体字节 INTEGER NOT NULL DEFAULT 0,
  预览字节 INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (地址, 日)
);
CREATE INDEX IF NOT EXISTS 地址用量_日 ON 地址用量 (日);
)sql";

// Version 6: the previews' order in a column of their own, numbered in the
// order they were made, which their order was.
constexpr const char* kNumberedPreviews = R"sql(
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
)sql";

// Visitors' reports, in the order they came, and the operator's deny list
// of hosts and words.
constexpr const char* kReports = R"sql(
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
)sql";

// What came back from published pages, and from the versions of a page that
// asked another question, and what each visitor's address sent a page in the
// minute that counts. Triggers rather than the release's own statements:
// however a claim goes, what its page's visitors sent goes with it, and
// never reaches whoever claims the name next.
constexpr const char* kReceipts = R"sql(
CREATE TABLE IF NOT EXISTS receipts (
  name TEXT PRIMARY KEY,
  modified INTEGER NOT NULL,
  etag TEXT NOT NULL,
  question TEXT NOT NULL,
  choice1 TEXT NOT NULL,
  choice2 TEXT NOT NULL,
  opened INTEGER NOT NULL DEFAULT 0,
  first_opened INTEGER NOT NULL DEFAULT 0,
  last_opened INTEGER NOT NULL DEFAULT 0,
  opened_minute INTEGER NOT NULL DEFAULT 0,
  opened_in_minute INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS receipt_answers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  choice INTEGER NOT NULL CHECK (choice IN (1, 2)),
  at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS receipt_answers_name ON receipt_answers (name, id);
CREATE TRIGGER IF NOT EXISTS receipts_go_with_claim AFTER DELETE ON 免费 BEGIN
  DELETE FROM receipt_answers WHERE name = OLD.文件名;
  DELETE FROM receipts WHERE name = OLD.文件名;
END;
CREATE TABLE IF NOT EXISTS receipt_earlier (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  question TEXT NOT NULL,
  choice1 TEXT NOT NULL,
  choice2 TEXT NOT NULL,
  opened INTEGER NOT NULL,
  first_opened INTEGER NOT NULL,
  last_opened INTEGER NOT NULL,
  replaced INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS receipt_earlier_name ON receipt_earlier (name, id);
CREATE TABLE IF NOT EXISTS receipt_earlier_answers (
  id INTEGER PRIMARY KEY,
  earlier INTEGER NOT NULL,
  choice INTEGER NOT NULL CHECK (choice IN (1, 2)),
  at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS receipt_earlier_answers_of ON receipt_earlier_answers (earlier, id);
CREATE TRIGGER IF NOT EXISTS receipt_earlier_answers_go_with_it AFTER DELETE ON receipt_earlier
BEGIN
  DELETE FROM receipt_earlier_answers WHERE earlier = OLD.id;
END;
CREATE TABLE IF NOT EXISTS receipt_visitors (
  name TEXT NOT NULL,
  visitor TEXT NOT NULL,
  minute INTEGER NOT NULL,
  opened INTEGER NOT NULL DEFAULT 0,
  answers INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (name, visitor)
);
CREATE INDEX IF NOT EXISTS receipt_visitors_minute ON receipt_visitors (minute);
CREATE TRIGGER IF NOT EXISTS receipt_history_goes_with_claim AFTER DELETE ON 免费 BEGIN
  DELETE FROM receipt_earlier WHERE name = OLD.文件名;
  DELETE FROM receipt_visitors WHERE name = OLD.文件名;
END;
)sql";

// The operator's decisions, their log, and the changes the server on the
// folder must hear of (sqlite_change_watch.cpp).
constexpr const char* kAdmin = R"sql(
CREATE TABLE IF NOT EXISTS admin_log (
  id INTEGER PRIMARY KEY,
  at INTEGER NOT NULL,
  action TEXT NOT NULL,
  target TEXT NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS admin_withheld (
  name TEXT PRIMARY KEY,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS admin_blocked (
  owner TEXT PRIMARY KEY,
  name TEXT NOT NULL,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS admin_blocked_name ON admin_blocked (name);
CREATE TABLE IF NOT EXISTS admin_removed_media (
  sha256 TEXT PRIMARY KEY,
  at INTEGER NOT NULL,
  reason TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS admin_changes (
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  name TEXT NOT NULL
);
)sql";

// Version 5: the pages' gates, a row beside a page that opens later or to a
// code, going with the page however it goes; and the tries at the codes.
constexpr const char* kGates = R"sql(
CREATE TABLE IF NOT EXISTS page_gates (
  name TEXT PRIMARY KEY,
  opens INTEGER NOT NULL,
  code_hash TEXT NOT NULL,
  hint TEXT NOT NULL
);
CREATE TRIGGER IF NOT EXISTS page_gates_go_with_page AFTER DELETE ON 页面 BEGIN
  DELETE FROM page_gates WHERE name = OLD.文件名;
END;
CREATE TABLE IF NOT EXISTS unlock_tries (
  name TEXT NOT NULL,
  visitor TEXT NOT NULL,
  since INTEGER NOT NULL,
  tries INTEGER NOT NULL,
  PRIMARY KEY (name, visitor)
);
CREATE INDEX IF NOT EXISTS unlock_tries_since ON unlock_tries (since);
)sql";

// Version 8: the pages' rows with their small fields first, then the
// compressed bytes, then the bytes as they are. SQLite reaches a value past
// the first page of a row by following the row's chain of pages, one at a
// time: most readers take the compressed bytes, which then lie at the head
// of the chain instead of behind the whole page.
constexpr const char* kCompressedFirst = R"sql(
DROP TRIGGER IF EXISTS page_gates_go_with_page;
CREATE TABLE 页面_新 (
  文件名 TEXT PRIMARY KEY,
  修改时间 INTEGER NOT NULL,
  标签 TEXT NOT NULL,
  压缩 BLOB,
  内容 BLOB NOT NULL
);
)sql";

// Moves the pages to the rows of version 8 a few at a time, each batch
// deleted before the next is written, so that the new rows take the room the
// old ones leave and the file does not grow by the pages' size. Their gates'
// trigger, dropped meanwhile, is made again by the gates' statements.
void PutCompressedFirst(SqliteStorage::Connection& db) {
  db.Exec(kCompressedFirst);
  for (;;) {
    std::int64_t last = 0;
    {
      SqlRows batch =
          db.Run("SELECT MAX(rowid) FROM (SELECT rowid FROM 页面 ORDER BY rowid LIMIT 64)");
      if (batch.IsNull(0)) break;
      last = batch.Int(0);
    }
    db.Run(
        "INSERT INTO 页面_新 (文件名, 修改时间, 标签, 压缩, 内容) "
        "SELECT 文件名, 修改时间, 标签, 压缩, 内容 FROM 页面 WHERE rowid <= $1 ORDER BY rowid",
        {last});
    db.Run("DELETE FROM 页面 WHERE rowid <= $1", {last});
  }
  db.Exec("DROP TABLE 页面; ALTER TABLE 页面_新 RENAME TO 页面;");
}

// Where `column` stands among the columns of `table`.
std::int64_t ColumnPlace(SqliteStorage::Connection& db, std::string_view table,
                         std::string_view column) {
  return db.Run("SELECT cid FROM pragma_table_info($1) WHERE name = $2", {table, column}).Int(0);
}

bool HasColumn(SqliteStorage::Connection& db, std::string_view table, std::string_view column) {
  return static_cast<bool>(
      db.Run("SELECT 1 FROM pragma_table_info($1) WHERE name = $2", {table, column}));
}

void AddColumn(SqliteStorage::Connection& db, const char* table, const char* column,
               const char* alter) {
  if (!HasColumn(db, table, column)) db.Exec(alter);
}

void SetPageAside(SqliteStorage::Connection& db, const std::string& name,
                  const std::string& reason) {
  db.Run(
      "INSERT INTO 迁移搁置 (文件名, 内容, 修改时间, 原因) "
      "SELECT 文件名, 内容, 修改时间, $2 FROM 页面 WHERE 文件名 = $1",
      {name, reason});
  db.Run("DELETE FROM 页面 WHERE 文件名 = $1", {name});
}

// Version 2: hashes every stored identifier and keeps every name in small
// letters. Of claims whose names differ only in case the earliest stays;
// each other one, and its page, moves to the table 迁移搁置 (set aside, not
// lost) and is noted. The old rows are overwritten with zeros as they go.
void HashIdsAndSmallNames(SqliteStorage::Connection& db, const MachineIdHasher& hash,
                          const Note& note) {
  // Freed pages are zeroed, so the identifiers do not linger in the file.
  db.Exec("PRAGMA secure_delete=ON");
  db.Exec(kHashedClaims);

  // Small-letter name to the spelling of the claim that keeps it.
  std::unordered_map<std::string, std::string> kept;
  std::size_t claims = 0;
  for (SqlRows old = db.Run("SELECT 硬盘ID, 文件名, 认领时间 FROM 免费 ORDER BY 认领时间, rowid");
       old; old.Next()) {
    ++claims;
    const std::string owner = hash(old.Text(0)).hex();
    const std::string name = old.Text(1);
    const std::string claimed_at = old.Text(2);
    const auto [first, fresh] = kept.emplace(PageNameKey(name), name);
    if (fresh) {
      db.Run("INSERT INTO 免费_新 (硬盘ID摘要, 文件名, 认领时间) VALUES ($1, $2, $3)",
             {owner, first->first, claimed_at});
      continue;
    }
    const std::string reason = "differs only in case from the earlier claim " + first->second;
    db.Run("INSERT INTO 迁移搁置 (文件名, 硬盘ID摘要, 认领时间, 原因) VALUES ($1, $2, $3, $4)",
           {name, owner, claimed_at, reason});
    note("claim of \"" + name + "\" (" + claimed_at + ") set aside in table 迁移搁置: it " +
         reason);
  }

  // A page goes with its claim: one kept under another spelling means the
  // page belonged to a claim that was set aside.
  std::vector<std::string> pages_aside;
  for (SqlRows pages = db.Run("SELECT 文件名 FROM 页面"); pages; pages.Next()) {
    const std::string name = pages.Text(0);
    const auto owner = kept.find(PageNameKey(name));
    if (owner != kept.end() && owner->second != name) pages_aside.push_back(name);
  }
  for (const std::string& name : pages_aside) {
    SetPageAside(db, name, "page of a claim set aside");
    note("page \"" + name + "\" set aside in table 迁移搁置 with its claim");
  }
  db.Exec("UPDATE OR IGNORE 页面 SET 文件名 = lower(文件名) WHERE 文件名 <> lower(文件名)");
  // Left over: pages of no claim at all whose names collided.
  std::vector<std::string> unclaimed;
  for (SqlRows left = db.Run("SELECT 文件名 FROM 页面 WHERE 文件名 <> lower(文件名)"); left;
       left.Next())
    unclaimed.push_back(left.Text(0));
  for (const std::string& name : unclaimed) {
    SetPageAside(db, name, "page of no claim, differs only in case from another");
    note("page \"" + name + "\" of no claim set aside in table 迁移搁置");
  }

  db.Exec("DROP TABLE 免费; ALTER TABLE 免费_新 RENAME TO 免费;");
  note("database brought up to date: " + std::to_string(claims) +
       " claims now hold a keyed hash of their machine identifier, names in small letters");
}

}  // namespace

void OpenSqliteSchema(SqliteStorage::Connection& db, const MachineIdHasher& hash,
                      const std::string& file, const Note& note) {
  const auto [hashed, rearranged] = db.Write([&] {
    const std::int64_t found = db.Run("PRAGMA user_version").Int(0);
    if (found > kSchemaVersion)
      throw StorageError(file + " was written by a newer heartpage-server");
    const bool clear = HasColumn(db, "免费", "硬盘ID");
    if (clear)
      HashIdsAndSmallNames(
          db, hash, note ? note : [](const std::string&) {});
    db.Exec(kFirstTables);
    AddColumn(db, "免费", "序号", kNumberedClaims);
    if (found < 3) db.Exec(kPreviews);
    db.Exec(kMediaAndUsage);
    // Previews stored before addresses were counted belong to none; what
    // pages took before they were counted by address counts for nobody.
    AddColumn(db, "预览", "地址", "ALTER TABLE 预览 ADD COLUMN 地址 TEXT NOT NULL DEFAULT ''");
    db.Exec("CREATE INDEX IF NOT EXISTS 预览_地址 ON 预览 (地址, 到期时间)");
    AddColumn(db, "地址用量", "页面字节",
              "ALTER TABLE 地址用量 ADD COLUMN 页面字节 INTEGER NOT NULL DEFAULT 0");
    AddColumn(db, "预览", "序号", kNumberedPreviews);
    db.Exec(kReports);
    db.Exec(kReceipts);
    db.Exec(kAdmin);
    db.Exec(kGates);
    AddColumn(db, "页面", "压缩", "ALTER TABLE 页面 ADD COLUMN 压缩 BLOB");
    AddColumn(db, "预览", "压缩", "ALTER TABLE 预览 ADD COLUMN 压缩 BLOB");
    const bool moved = ColumnPlace(db, "页面", "压缩") > ColumnPlace(db, "页面", "内容");
    if (moved) {
      PutCompressedFirst(db);
      db.Exec(kGates);
    }
    // Written only when it changes: a start that writes nothing still starts,
    // and serves what it has, on a full disk.
    if (found != kSchemaVersion)
      db.Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    return std::pair(clear, moved);
  });
  // After the hashing has committed, no copy of the old rows stays in the
  // write-ahead log either: the zeroed pages replace the old ones in the
  // database file, and the log that held both is emptied. The pages moved
  // to their new rows passed through the log too, which would otherwise
  // keep their size on the disk.
  if (hashed || rearranged) db.Exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace heartpage::server
