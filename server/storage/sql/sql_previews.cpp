// Temporary previews: their room is a share of the page byte limit.
#include "server/storage/sql/sql_address_usage.h"
#include "server/storage/sql/sql_storage.h"

namespace heartpage::server {

PreviewStoreResult SqlStorage::StorePreview(const MachineIdHash& owner, std::string_view token,
                                            std::string_view bytes, std::int64_t now,
                                            std::int64_t expires, const AddressBudget& sender,
                                            std::string_view compressed) {
  const std::string etag = PageEtag(bytes);
  const std::uint64_t room = page_limit_ / kPreviewShareOfPageLimit;
  return Write([&](SqlSession& db) {
    // What expired gives its room back; what expired long ago goes.
    db.Run(
        "UPDATE 预览 SET 内容 = substr(内容, 1, 0), 压缩 = NULL WHERE 到期时间 <= $1 AND "
        "octet_length(内容) > 0",
        {now});
    db.Run("DELETE FROM 预览 WHERE 到期时间 <= $1", {now - kExpiredPreviewMemorySeconds});
    // The owner's oldest live previews end to make room for the new one.
    db.Run(
        "UPDATE 预览 SET 内容 = substr(内容, 1, 0), 压缩 = NULL, 到期时间 = $2 WHERE 硬盘ID摘要 = "
        "$1 AND "
        "到期时间 > $2 AND 序号 NOT IN (SELECT 序号 FROM 预览 WHERE 硬盘ID摘要 = $1 "
        "AND 到期时间 > $2 ORDER BY 序号 DESC LIMIT $3)",
        {owner.hex(), now, kPreviewsPerMachine - 1});
    if (db.Run("SELECT COALESCE(SUM(octet_length(内容)), 0) FROM 预览 WHERE 到期时间 > $1", {now})
                .Count(0) +
            bytes.size() >
        room)
      return PreviewStoreResult::kOverQuota;
    const std::int64_t day = UsageDay(now);
    if (!sender.key.empty()) {
      // Taken first: another server storing for the same address waits.
      const AddressDay today = LockUsage(db, sender.key, day);
      if (db.Run("SELECT COALESCE(SUM(octet_length(内容)), 0) FROM 预览 WHERE 地址 = $1 AND "
                 "到期时间 > $2",
                 {sender.key, now})
                  .Count(0) +
              bytes.size() >
          room / kAddressShareOfPreviewRoom)
        return PreviewStoreResult::kOverAddressShare;
      if (today.media + today.previews + bytes.size() > sender.daily)
        return PreviewStoreResult::kOverAddressDaily;
    }
    db.Run(
        "INSERT INTO 预览 (令牌, 硬盘ID摘要, 内容, 创建时间, 到期时间, 标签, 地址, 压缩) "
        "VALUES ($1, $2, $3, $4, $5, $6, $7, $8)",
        {token, owner.hex(), SqlValue::Bytes(bytes), now, expires, etag, sender.key,
         SqlValue::Bytes(compressed)});
    AddUsage(db, sender.key, day, {.previews = bytes.size()});
    return PreviewStoreResult::kStored;
  });
}

std::optional<PreviewPage> SqlStorage::LoadPreview(std::string_view token, std::int64_t now) {
  return Read([&](SqlSession& db) -> std::optional<PreviewPage> {
    SqlRows row =
        db.Run("SELECT 内容, 创建时间, 到期时间, 标签, 压缩 FROM 预览 WHERE 令牌 = $1", {token});
    if (!row) return std::nullopt;
    if (row.Int(2) <= now) return PreviewPage{true, nullptr};
    return PreviewPage{false, std::make_shared<const StoredPage>(StoredPage{
                                  row.Text(0), row.Int(1), row.Text(3), {}, row.Text(4)})};
  });
}

}  // namespace heartpage::server
