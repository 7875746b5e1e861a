// Temporary previews in SQLite: their table, added by schema version 3, and
// their store and load.
#include "server/storage/sqlite/sqlite_address_usage.h"
#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

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

PreviewStoreResult SqliteStorage::StorePreview(const MachineIdHash& owner, std::string_view token,
                                               std::string_view bytes, std::int64_t now,
                                               std::int64_t expires, const AddressBudget& sender) {
  const std::string etag = PageEtag(bytes);
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    // What expired gives its room back; what expired long ago goes.
    auto empty =
        db->Prepare("UPDATE 预览 SET 内容 = X'' WHERE 到期时间 <= ?1 AND LENGTH(内容) > 0");
    empty.Bind(1, now);
    empty.Step();
    auto forget = db->Prepare("DELETE FROM 预览 WHERE 到期时间 <= ?1");
    forget.Bind(1, now - kExpiredPreviewMemorySeconds);
    forget.Step();
    // The owner's oldest live previews end to make room for the new one.
    auto end = db->Prepare(
        "UPDATE 预览 SET 内容 = X'', 到期时间 = ?2 WHERE 硬盘ID摘要 = ?1 AND 到期时间 > ?2 "
        "AND rowid NOT IN (SELECT rowid FROM 预览 WHERE 硬盘ID摘要 = ?1 AND 到期时间 > ?2 "
        "ORDER BY 创建时间 DESC, rowid DESC LIMIT ?3)");
    end.Bind(1, owner.hex()).Bind(2, now).Bind(3, std::int64_t{kPreviewsPerMachine - 1});
    end.Step();
    const std::int64_t day = UsageDay(now);
    if (page_limit_) {
      const std::uint64_t room = *page_limit_ / kPreviewShareOfPageLimit;
      auto live = db->Prepare("SELECT COALESCE(SUM(LENGTH(内容)), 0) FROM 预览 WHERE 到期时间 > ?");
      live.Bind(1, now);
      live.Step();
      if (static_cast<std::uint64_t>(live.Int(0)) + bytes.size() > room)
        return PreviewStoreResult::kOverQuota;
      if (!sender.key.empty()) {
        auto theirs = db->Prepare(
            "SELECT COALESCE(SUM(LENGTH(内容)), 0) FROM 预览 WHERE 地址 = ? AND 到期时间 > ?");
        theirs.Bind(1, sender.key).Bind(2, now);
        theirs.Step();
        if (static_cast<std::uint64_t>(theirs.Int(0)) + bytes.size() >
            room / kAddressShareOfPreviewRoom)
          return PreviewStoreResult::kOverAddressShare;
      }
    }
    if (!sender.key.empty()) {
      const AddressDay today = UsageOn(*db, sender.key, day);
      if (today.media + today.previews + bytes.size() > sender.daily)
        return PreviewStoreResult::kOverAddressDaily;
    }
    auto insert = db->Prepare(
        "INSERT INTO 预览 (令牌, 硬盘ID摘要, 内容, 创建时间, 到期时间, 标签, 地址) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    insert.Bind(1, token).Bind(2, owner.hex()).BindBlob(3, bytes).Bind(4, now).Bind(5, expires);
    insert.Bind(6, etag).Bind(7, sender.key);
    insert.Step();
    AddUsage(*db, sender.key, day, {.previews = bytes.size()});
    return PreviewStoreResult::kStored;
  });
}

std::optional<PreviewPage> SqliteStorage::LoadPreview(std::string_view token, std::int64_t now) {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 内容, 创建时间, 到期时间, 标签 FROM 预览 WHERE 令牌 = ?");
  query.Bind(1, token);
  if (!query.Step()) return std::nullopt;
  if (query.Int(2) <= now) return PreviewPage{true, nullptr};
  return PreviewPage{false, std::make_shared<const StoredPage>(
                                StoredPage{query.Blob(0), query.Int(1), query.Text(3), {}})};
}

}  // namespace heartpage::server
