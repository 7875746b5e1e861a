#include "server/storage/postgres/pg_schema.h"

#include <array>

#include "server/storage/machine_id_hash.h"

namespace heartpage::server {
namespace {

// Any number, the same in every server: the lock that orders migrations.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(7236184511)";

// Migration n takes the schema from version n to n + 1. Never edit one that
// has shipped; add the next.
constexpr std::array<const char*, kPostgresSchemaVersion> kMigrations = {
    // 1: the tables SQLite keeps, with a claim order of their own (SQLite's
    // rowid), a version per page, the bytes of all pages for the quota, and
    // the key for machine identifiers, which lives with the data it protects
    // since no server keeps a folder of its own.
    R"sql(
CREATE TABLE 系统设置 (
  编号 integer PRIMARY KEY CHECK (编号 = 1),
  公告 text,
  版本号 text,
  下载地址 text
);
INSERT INTO 系统设置 (编号) VALUES (1);
CREATE TABLE 密钥 (
  编号 integer PRIMARY KEY CHECK (编号 = 1),
  硬盘ID bytea NOT NULL
);
CREATE TABLE 免费 (
  序号 bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  硬盘ID摘要 text NOT NULL,
  文件名 text NOT NULL UNIQUE CHECK (文件名 = lower(文件名)),
  认领时间 text NOT NULL
);
CREATE INDEX 免费_硬盘ID摘要 ON 免费 (硬盘ID摘要);
CREATE TABLE 页面 (
  文件名 text PRIMARY KEY,
  内容 bytea NOT NULL,
  修改时间 bigint NOT NULL,
  标签 text NOT NULL
);
CREATE TABLE 用量 (
  编号 integer PRIMARY KEY CHECK (编号 = 1),
  页面字节 bigint NOT NULL
);
INSERT INTO 用量 VALUES (1, 0);
)sql",
    // 2: temporary previews, under their random token, with the order they
    // were stored in (a machine's oldest live one ends first).
    R"sql(
CREATE TABLE 预览 (
  序号 bigint GENERATED ALWAYS AS IDENTITY,
  令牌 text PRIMARY KEY,
  硬盘ID摘要 text NOT NULL,
  内容 bytea NOT NULL,
  创建时间 bigint NOT NULL,
  到期时间 bigint NOT NULL,
  标签 text NOT NULL
);
CREATE INDEX 预览_硬盘ID摘要 ON 预览 (硬盘ID摘要, 到期时间);
CREATE INDEX 预览_到期时间 ON 预览 (到期时间);
)sql",
    // 3: pages taken down, and the senders' own files in chunks (a range is
    // read from the rows that hold it), who sent each, and their bytes in all
    // beside the pages'.
    R"sql(
CREATE TABLE 撤下 (
  文件名 text PRIMARY KEY,
  撤下时间 bigint NOT NULL
);
CREATE TABLE 媒体 (
  名称 text PRIMARY KEY,
  类型 text NOT NULL,
  大小 bigint NOT NULL
);
CREATE TABLE 媒体块 (
  名称 text NOT NULL REFERENCES 媒体 ON DELETE CASCADE,
  序号 bigint NOT NULL,
  内容 bytea NOT NULL,
  PRIMARY KEY (名称, 序号)
);
ALTER TABLE 媒体块 ALTER COLUMN 内容 SET STORAGE EXTERNAL;
CREATE TABLE 媒体上传 (
  名称 text NOT NULL REFERENCES 媒体 ON DELETE CASCADE,
  硬盘ID摘要 text NOT NULL,
  上传时间 bigint NOT NULL,
  PRIMARY KEY (名称, 硬盘ID摘要)
);
CREATE INDEX 媒体上传_硬盘ID摘要 ON 媒体上传 (硬盘ID摘要);
ALTER TABLE 用量 ADD COLUMN 媒体字节 bigint NOT NULL DEFAULT 0;
)sql",
    // Visitors' reports, in the order they came, and the operator's deny
    // list of hosts and words.
    R"sql(
CREATE TABLE 举报 (
  编号 bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  页面 text NOT NULL,
  理由 text NOT NULL,
  举报时间 bigint NOT NULL
);
CREATE INDEX 举报_页面 ON 举报 (页面, 编号);
CREATE TABLE 禁止 (
  类别 text NOT NULL CHECK (类别 IN ('host', 'word')),
  内容 text NOT NULL,
  添加时间 bigint NOT NULL,
  PRIMARY KEY (类别, 内容)
);
)sql",
    // The bytes each client address sent, by day, and the address each
    // preview came from: budgets by address, which identifiers do not evade.
    R"sql(
CREATE TABLE 地址用量 (
  地址 text NOT NULL,
  日 bigint NOT NULL,
  媒体字节 bigint NOT NULL DEFAULT 0,
  预览字节 bigint NOT NULL DEFAULT 0,
  PRIMARY KEY (地址, 日)
);
CREATE INDEX 地址用量_日 ON 地址用量 (日);
ALTER TABLE 预览 ADD COLUMN 地址 text NOT NULL DEFAULT '';
CREATE INDEX 预览_地址 ON 预览 (地址, 到期时间);
)sql",
    // The operator's decisions (pages taken down, owners blocked, files
    // refused) and the log of every action with its reason.
    R"sql(
CREATE TABLE admin_log (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  at bigint NOT NULL,
  action text NOT NULL,
  target text NOT NULL,
  reason text NOT NULL
);
CREATE TABLE admin_withheld (
  name text PRIMARY KEY,
  at bigint NOT NULL,
  reason text NOT NULL
);
CREATE TABLE admin_blocked (
  owner text PRIMARY KEY,
  name text NOT NULL,
  at bigint NOT NULL,
  reason text NOT NULL
);
CREATE INDEX admin_blocked_name ON admin_blocked (name);
CREATE TABLE admin_removed_media (
  sha256 text PRIMARY KEY,
  at bigint NOT NULL,
  reason text NOT NULL
);
)sql",
    // What came back from published pages: a row per page bound to one
    // version of it, and its last answers. Both go with the name's claim,
    // however it goes, and never reach whoever claims the name next.
    R"sql(
CREATE TABLE receipts (
  name text PRIMARY KEY REFERENCES 免费 (文件名) ON DELETE CASCADE,
  modified bigint NOT NULL,
  etag text NOT NULL,
  question text NOT NULL,
  choice1 text NOT NULL,
  choice2 text NOT NULL,
  opened bigint NOT NULL DEFAULT 0,
  first_opened bigint NOT NULL DEFAULT 0,
  last_opened bigint NOT NULL DEFAULT 0,
  opened_minute bigint NOT NULL DEFAULT 0,
  opened_in_minute bigint NOT NULL DEFAULT 0
);
CREATE TABLE receipt_answers (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL REFERENCES receipts ON DELETE CASCADE,
  choice integer NOT NULL CHECK (choice IN (1, 2)),
  at bigint NOT NULL
);
CREATE INDEX receipt_answers_name ON receipt_answers (name, id);
)sql",
    // What came back from the versions of a page that asked another
    // question, and what each visitor's address sent a page in the minute
    // that counts (a keyed hash of it), both going with the page's receipts.
    R"sql(
CREATE TABLE receipt_earlier (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  name text NOT NULL REFERENCES receipts ON DELETE CASCADE,
  question text NOT NULL,
  choice1 text NOT NULL,
  choice2 text NOT NULL,
  opened bigint NOT NULL,
  first_opened bigint NOT NULL,
  last_opened bigint NOT NULL,
  replaced bigint NOT NULL
);
CREATE INDEX receipt_earlier_name ON receipt_earlier (name, id);
CREATE TABLE receipt_earlier_answers (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  earlier bigint NOT NULL REFERENCES receipt_earlier ON DELETE CASCADE,
  choice integer NOT NULL CHECK (choice IN (1, 2)),
  at bigint NOT NULL
);
CREATE INDEX receipt_earlier_answers_of ON receipt_earlier_answers (earlier, id);
CREATE TABLE receipt_visitors (
  name text NOT NULL REFERENCES receipts ON DELETE CASCADE,
  visitor text NOT NULL,
  minute bigint NOT NULL,
  opened bigint NOT NULL DEFAULT 0,
  answers bigint NOT NULL DEFAULT 0,
  PRIMARY KEY (name, visitor)
);
CREATE INDEX receipt_visitors_minute ON receipt_visitors (minute);
)sql",
    // What the pages stored from each address grew by, for its share.
    R"sql(
ALTER TABLE 地址用量 ADD COLUMN 页面字节 bigint NOT NULL DEFAULT 0;
)sql",
    // Pages that open at a moment or to a code, their gate going with the
    // page; and the tries at each code in the window that counts, by a keyed
    // hash of the address ('' for the page's own).
    R"sql(
CREATE TABLE page_gates (
  name text PRIMARY KEY REFERENCES 页面 (文件名) ON DELETE CASCADE,
  opens bigint NOT NULL,
  code_hash text NOT NULL,
  hint text NOT NULL
);
CREATE TABLE unlock_tries (
  name text NOT NULL,
  visitor text NOT NULL,
  since bigint NOT NULL,
  tries bigint NOT NULL,
  PRIMARY KEY (name, visitor)
);
CREATE INDEX unlock_tries_since ON unlock_tries (since);
)sql",
    // Pages and previews compressed beside their bytes. Rows from before
    // have none (NULL): their pages learn theirs when first served.
    R"sql(
ALTER TABLE 页面 ADD COLUMN 压缩 bytea;
ALTER TABLE 页面 ALTER COLUMN 压缩 SET STORAGE EXTERNAL;
ALTER TABLE 预览 ADD COLUMN 压缩 bytea;
)sql",
    // Pages and previews kept in lz4 rather than pglz, where the database
    // can: pglz took a sixth of the database's CPU on every store. Rows
    // written before keep theirs; a database without lz4 keeps pglz.
    R"sql(
DO $$
BEGIN
  EXECUTE 'ALTER TABLE 页面 ALTER COLUMN 内容 SET COMPRESSION lz4';
  EXECUTE 'ALTER TABLE 预览 ALTER COLUMN 内容 SET COMPRESSION lz4';
EXCEPTION WHEN feature_not_supported OR syntax_error THEN
  NULL;
END
$$;
)sql",
};

}  // namespace

std::string MigratePostgres(PgConnection& db, const std::function<void(const std::string&)>& note) {
  return db.Transaction([&] {
    db.Exec(kMigrationLock);
    db.Exec(
        "CREATE TABLE IF NOT EXISTS schema_version ("
        "  one boolean PRIMARY KEY DEFAULT true CHECK (one), version integer NOT NULL);"
        "INSERT INTO schema_version (version) VALUES (0) ON CONFLICT DO NOTHING");
    const int found = static_cast<int>(db.Run("SELECT version FROM schema_version").Int(0, 0));
    if (found > kPostgresSchemaVersion)
      throw StorageError("the database was written by a newer heartpage-server (schema " +
                         std::to_string(found) + ")");
    for (int version = found; version < kPostgresSchemaVersion; ++version)
      db.Exec(kMigrations[version]);
    if (found != kPostgresSchemaVersion) {
      db.Exec("UPDATE schema_version SET version = " + std::to_string(kPostgresSchemaVersion));
      if (note)
        note("database schema brought from version " + std::to_string(found) + " to " +
             std::to_string(kPostgresSchemaVersion));
    }
    const std::string fresh = MachineIdHasher::NewKey();
    db.Run("INSERT INTO 密钥 (编号, 硬盘ID) VALUES (1, $1) ON CONFLICT DO NOTHING",
           {PgValue::Bytes(fresh)});
    return std::string(db.Run("SELECT 硬盘ID FROM 密钥", {}, /*binary=*/true).Get(0, 0));
  });
}

}  // namespace heartpage::server
