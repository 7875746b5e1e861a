// Temporary previews in PostgreSQL, in the table that schema version 2 adds.
#include "server/storage/postgres/pg_address_usage.h"
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {

PreviewStoreResult PostgresStorage::StorePreview(const MachineIdHash& owner, std::string_view token,
                                                 std::string_view bytes, std::int64_t now,
                                                 std::int64_t expires,
                                                 const AddressBudget& sender) {
  Hasher();
  const std::string etag = PageEtag(bytes);
  const std::string now_text = std::to_string(now);
  const std::string forget_before = std::to_string(now - kExpiredPreviewMemorySeconds);
  const std::string keep = std::to_string(kPreviewsPerMachine - 1);
  const std::string room = std::to_string(page_limit_ / kPreviewShareOfPageLimit);
  Lease db = Acquire();
  return db->Transaction([&] {
    // What expired gives its room back; what expired long ago goes.
    db->Run(
        "UPDATE 预览 SET 内容 = ''::bytea WHERE 到期时间 <= $1::bigint AND "
        "octet_length(内容) > 0",
        {now_text});
    db->Run("DELETE FROM 预览 WHERE 到期时间 <= $1::bigint", {forget_before});
    // The owner's oldest live previews end to make room for the new one.
    db->Run(
        "UPDATE 预览 SET 内容 = ''::bytea, 到期时间 = $2::bigint WHERE 硬盘ID摘要 = $1 AND "
        "到期时间 > $2::bigint AND 序号 NOT IN (SELECT 序号 FROM 预览 WHERE 硬盘ID摘要 = $1 "
        "AND 到期时间 > $2::bigint ORDER BY 序号 DESC LIMIT $3::bigint)",
        {owner.hex(), now_text, keep});
    const PgResult live = db->Run(
        "SELECT (COALESCE(SUM(octet_length(内容)), 0) + $2::bigint > $3::numeric)::int "
        "FROM 预览 WHERE 到期时间 > $1::bigint",
        {now_text, std::to_string(bytes.size()), room});
    if (live.Int(0, 0) != 0) return PreviewStoreResult::kOverQuota;
    const std::int64_t day = UsageDay(now);
    if (!sender.key.empty()) {
      // Taken first: another server storing for the same address waits.
      const AddressDay locked = LockUsage(*db, sender.key, day);
      const std::uint64_t today = locked.media + locked.previews;
      const PgResult theirs = db->Run(
          "SELECT (COALESCE(SUM(octet_length(内容)), 0) + $3::bigint > $4::numeric)::int "
          "FROM 预览 WHERE 地址 = $1 AND 到期时间 > $2::bigint",
          {sender.key, now_text, std::to_string(bytes.size()),
           std::to_string(page_limit_ / kPreviewShareOfPageLimit / kAddressShareOfPreviewRoom)});
      if (theirs.Int(0, 0) != 0) return PreviewStoreResult::kOverAddressShare;
      if (today + bytes.size() > sender.daily) return PreviewStoreResult::kOverAddressDaily;
    }
    db->Run(
        "INSERT INTO 预览 (令牌, 硬盘ID摘要, 内容, 创建时间, 到期时间, 标签, 地址) "
        "VALUES ($1, $2, $3, $4::bigint, $5::bigint, $6, $7)",
        {token, owner.hex(), PgValue::Bytes(bytes), now_text, std::to_string(expires), etag,
         sender.key});
    AddUsage(*db, sender.key, day, {.previews = bytes.size()});
    return PreviewStoreResult::kStored;
  });
}

std::optional<PreviewPage> PostgresStorage::LoadPreview(std::string_view token, std::int64_t now) {
  Hasher();
  Lease db = Acquire();
  const PgResult row =
      db->Run("SELECT 内容, 创建时间, 到期时间 <= $2::bigint, 标签 FROM 预览 WHERE 令牌 = $1",
              {token, std::to_string(now)}, /*binary=*/true);
  if (row.Rows() == 0) return std::nullopt;
  if (row.Get(0, 2) != std::string_view("\x01", 1)) {
    return PreviewPage{
        false,
        std::make_shared<const StoredPage>(StoredPage{
            std::string(row.Get(0, 0)), row.BinaryInt(0, 1), std::string(row.Get(0, 3)), {}})};
  }
  return PreviewPage{true, nullptr};
}

}  // namespace heartpage::server
