#include "server/admin/sqlite_import.h"

#include "server/storage/postgres/pg_connection.h"
#include "server/storage/postgres/pg_schema.h"
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {
namespace {

void AdoptKey(PgConnection& db, const std::string& key) {
  const PgResult current = db.Run("SELECT 硬盘ID FROM 密钥 FOR UPDATE", {}, /*binary=*/true);
  if (current.Get(0, 0) == key) return;
  if (db.Run("SELECT 1 FROM 免费 LIMIT 1").Rows() != 0)
    throw StorageError(
        "the database already holds claims hashed under another key; import into a database "
        "that holds none");
  db.Run("UPDATE 密钥 SET 硬盘ID = $1", {PgValue::Bytes(key)});
}

std::size_t CopySettings(PgConnection& db, const SiteSettings& settings) {
  db.Run(
      "UPDATE 系统设置 SET 公告 = COALESCE($1, 公告), 版本号 = COALESCE($2, 版本号), "
      "下载地址 = COALESCE($3, 下载地址) WHERE 编号 = 1",
      {PgValue::Optional(settings.announcement), PgValue::Optional(settings.version_label),
       PgValue::Optional(settings.download_url)});
  return settings.announcement.has_value() + settings.version_label.has_value() +
         settings.download_url.has_value();
}

}  // namespace

ImportCounts ImportSqlite(SqliteStorage& source, const std::string& uri,
                          const std::function<void(const std::string&)>& note) {
  PgConnection db(uri);
  MigratePostgres(db, note);
  ImportCounts counts;
  db.Transaction([&] {
    AdoptKey(db, source.Key());
    counts.settings = CopySettings(db, source.LoadSettings());
    source.ForEachClaim([&](const Claim& claim) {
      const PgResult owner = db.Run(
          "WITH added AS (INSERT INTO 免费 (硬盘ID摘要, 文件名, 认领时间) VALUES ($1, $2, $3) "
          "ON CONFLICT (文件名) DO NOTHING RETURNING 硬盘ID摘要) "
          "SELECT 硬盘ID摘要, true FROM added "
          "UNION ALL SELECT 硬盘ID摘要, false FROM 免费 WHERE 文件名 = $2",
          {claim.owner.hex(), claim.name, claim.claimed_at});
      // Rows of the same statement see the table as it was before it: the
      // second part answers only when the name was there already.
      if (owner.Get(0, 1) == "t") {
        ++counts.claims;
      } else if (owner.Get(0, 0) == claim.owner.hex()) {
        ++counts.claims_present;
      } else {
        ++counts.claims_conflicting;
        note("claim of \"" + claim.name + "\" left out: another machine holds it there");
      }
    });
    source.ForEachPage([&](const std::string& name, const StoredPage& page) {
      const std::vector<Claim> here = source.ClaimsOfName(name);
      const PgResult there = db.Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1", {name});
      if (here.empty() || there.Rows() == 0 || there.Get(0, 0) != here[0].owner.hex()) {
        ++counts.pages_left;
        return;
      }
      // Compressed again when first read: what the database held compressed
      // was the page replaced.
      const PgResult copied = db.Run(
          "INSERT INTO 页面 (文件名, 内容, 修改时间, 标签) VALUES ($1, $2, $3::bigint, $4) "
          "ON CONFLICT (文件名) DO UPDATE SET 内容 = excluded.内容, 修改时间 = excluded.修改时间, "
          "标签 = excluded.标签, 压缩 = NULL WHERE 页面.内容 <> excluded.内容 RETURNING 1",
          {name, PgValue::Bytes(page.bytes), std::to_string(page.modified), page.etag});
      if (copied.Rows() == 0) {
        ++counts.pages_present;
        return;
      }
      ++counts.pages;
      // A page held back until its moment or its code stays held back there.
      StoreGate(db, name, page.gate);
      db.Run("SELECT pg_notify($1, $2)", {kPageChannel, name});
    });
    db.Exec(
        "UPDATE 用量 SET 页面字节 = (SELECT COALESCE(sum(octet_length(内容)), 0) FROM 页面) "
        "WHERE 编号 = 1");
    return 0;
  });
  return counts;
}

}  // namespace heartpage::server
