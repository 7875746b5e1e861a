#include "server/storage/sql/sql_storage.h"
#include "server/storage/utc_text.h"

#include <ctime>

namespace heartpage::server {
namespace {

std::vector<Claim> ReadClaims(SqlRows rows) {
  std::vector<Claim> claims;
  for (; rows; rows.Next())
    claims.push_back({MachineIdHash(rows.Text(0)), rows.Text(1), rows.Text(2)});
  return claims;
}

}  // namespace

MachineIdHash SqlStorage::HashMachineId(std::string_view machine_id) {
  return Hasher()(machine_id);
}

SiteSettings SqlStorage::LoadSettings() {
  return Read([](SqlSession& db) {
    SiteSettings settings;
    if (SqlRows row = db.Run("SELECT 公告, 版本号, 下载地址 FROM 系统设置 WHERE 编号 = 1")) {
      settings.announcement = row.Optional(0);
      settings.version_label = row.Optional(1);
      settings.download_url = row.Optional(2);
    }
    return settings;
  });
}

void SqlStorage::UpdateSettings(const SiteSettings& changes) {
  Write([&](SqlSession& db) {
    db.Run(
        "UPDATE 系统设置 SET 公告 = COALESCE($1, 公告), 版本号 = COALESCE($2, 版本号), "
        "下载地址 = COALESCE($3, 下载地址) WHERE 编号 = 1",
        {SqlValue::Optional(changes.announcement), SqlValue::Optional(changes.version_label),
         SqlValue::Optional(changes.download_url)});
  });
}

std::vector<Claim> SqlStorage::ClaimsOfMachine(const MachineIdHash& owner) {
  return Read([&](SqlSession& db) {
    return ReadClaims(
        db.Run("SELECT 硬盘ID摘要, 文件名, 认领时间 FROM 免费 WHERE 硬盘ID摘要 = $1 ORDER BY 序号",
               {owner.hex()}));
  });
}

std::vector<Claim> SqlStorage::ClaimsOfName(std::string_view name) {
  return Read([&](SqlSession& db) {
    return ReadClaims(db.Run(
        "SELECT 硬盘ID摘要, 文件名, 认领时间 FROM 免费 WHERE 文件名 = $1 ORDER BY 序号", {name}));
  });
}

ClaimResult SqlStorage::ClaimName(const MachineIdHash& owner, std::string_view name) {
  const std::string now = UtcText(std::time(nullptr));
  // The unique constraint decides between claims racing on several servers.
  return Write(
      [&](SqlSession& db) {
        return db.Run(
                   "INSERT INTO 免费 (硬盘ID摘要, 文件名, 认领时间) VALUES ($1, $2, $3) "
                   "ON CONFLICT (文件名) DO NOTHING RETURNING 1",
                   {owner.hex(), name, now})
                   ? ClaimResult::kClaimed
                   : ClaimResult::kTaken;
      },
      // A claim is always followed by the store of its page, whose synced
      // commit carries the claim to the disk too: one disk sync per publish.
      /*synced=*/false);
}

}  // namespace heartpage::server
