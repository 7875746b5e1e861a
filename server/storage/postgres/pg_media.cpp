// Pages taken down and the senders' own files, in the PostgreSQL store, and
// the operator's removal of files.
#include <algorithm>
#include <ctime>
#include <vector>

#include "server/storage/postgres/pg_address_usage.h"
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {

TakeDownResult PostgresStorage::TakeDownPage(const MachineIdHash& owner, std::string_view name) {
  Hasher();
  Lease db = Acquire();
  PgAnnouncement announcement;
  const TakeDownResult result = db->Transaction([&] {
    const PgResult claim =
        db->Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 FOR SHARE", {name});
    if (claim.Rows() == 0) return TakeDownResult::kUnclaimed;
    if (claim.Get(0, 0) != owner.hex()) return TakeDownResult::kNotOwner;
    const PgResult gone =
        db->Run("DELETE FROM 页面 WHERE 文件名 = $1 RETURNING octet_length(内容)", {name});
    if (gone.Rows() == 1)
      db->Run("UPDATE 用量 SET 页面字节 = 页面字节 - $1::bigint WHERE 编号 = 1",
              {std::string(gone.Get(0, 0))});
    db->Run(
        "INSERT INTO 撤下 (文件名, 撤下时间) VALUES ($1, extract(epoch FROM now())::bigint) "
        "ON CONFLICT (文件名) DO UPDATE SET 撤下时间 = excluded.撤下时间",
        {name});
    // Every server drops the page it keeps, as after a store.
    announcement = AnnounceIn(*db, name);
    return TakeDownResult::kTakenDown;
  });
  if (result == TakeDownResult::kTakenDown) AwaitDropped(announcement);
  return result;
}

bool PostgresStorage::WasTakenDown(std::string_view name) {
  Hasher();
  Lease db = Acquire();
  return db->Run("SELECT 1 FROM 撤下 WHERE 文件名 = $1", {name}).Rows() == 1;
}

ReleaseResult PostgresStorage::ReleaseName(const MachineIdHash& owner, std::string_view name) {
  Hasher();
  Lease db = Acquire();
  PgAnnouncement announcement;
  const ReleaseResult result = db->Transaction([&] {
    // FOR UPDATE: a store of the same name on another server waits for this
    // and then finds the name unclaimed.
    const PgResult claim =
        db->Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 FOR UPDATE", {name});
    if (claim.Rows() == 0) return ReleaseResult::kUnclaimed;
    if (claim.Get(0, 0) != owner.hex()) return ReleaseResult::kNotOwner;
    const PgResult gone =
        db->Run("DELETE FROM 页面 WHERE 文件名 = $1 RETURNING octet_length(内容)", {name});
    if (gone.Rows() == 1)
      db->Run("UPDATE 用量 SET 页面字节 = 页面字节 - $1::bigint WHERE 编号 = 1",
              {std::string(gone.Get(0, 0))});
    db->Run("DELETE FROM 撤下 WHERE 文件名 = $1", {name});
    db->Run("DELETE FROM 免费 WHERE 文件名 = $1", {name});
    announcement = AnnounceIn(*db, name);
    return ReleaseResult::kReleased;
  });
  if (result == ReleaseResult::kReleased) AwaitDropped(announcement);
  return result;
}

MediaStoreResult PostgresStorage::StoreMedia(const MachineIdHash& owner, const MediaFacts& facts,
                                             const MediaReader& read, std::uint64_t owner_quota,
                                             const AddressBudget& sender) {
  Hasher();
  const std::int64_t day = UsageDay(std::time(nullptr));
  Lease db = Acquire();
  const std::string size = std::to_string(facts.size);
  return db->Transaction([&] {
    // The one row of the totals orders the stores of media on every server,
    // so that neither a sender's quota nor the site's can be passed by two
    // stores at once.
    const PgResult total =
        db->Run("SELECT 页面字节 + 媒体字节, 媒体字节 FROM 用量 WHERE 编号 = 1 FOR UPDATE");
    const bool sent_before = db->Run("SELECT 1 FROM 媒体上传 WHERE 名称 = $1 AND 硬盘ID摘要 = $2",
                                     {facts.name, owner.hex()})
                                 .Rows() == 1;
    if (!sent_before) {
      const PgResult used = db->Run(
          "SELECT COALESCE(SUM(媒体.大小), 0) FROM 媒体上传 JOIN 媒体 USING (名称) "
          "WHERE 媒体上传.硬盘ID摘要 = $1",
          {owner.hex()});
      if (static_cast<std::uint64_t>(used.Int(0, 0)) + facts.size > owner_quota)
        return MediaStoreResult::kOverOwnerQuota;
    }
    if (db->Run("SELECT 1 FROM 媒体 WHERE 名称 = $1", {facts.name}).Rows() == 0) {
      const bool limited = page_limit_ != UINT64_MAX;
      const std::uint64_t media = static_cast<std::uint64_t>(total.Int(0, 1));
      if (static_cast<std::uint64_t>(total.Int(0, 0)) + facts.size > page_limit_ ||
          (limited && media + facts.size > MediaRoomOf(page_limit_)))
        return MediaStoreResult::kOverQuota;
      if (!sender.key.empty()) {
        if (limited && MediaSince(*db, sender.key, day - kAddressUsageDays + 1) + facts.size >
                           MediaRoomOf(page_limit_) / kAddressShareOfMediaRoom)
          return MediaStoreResult::kOverAddressShare;
        const AddressDay today = LockUsage(*db, sender.key, day);
        if (today.media + today.previews + facts.size > sender.daily)
          return MediaStoreResult::kOverAddressDaily;
      }
      db->Run("INSERT INTO 媒体 (名称, 类型, 大小) VALUES ($1, $2, $3::bigint)",
              {facts.name, facts.content_type, size});
      ForEachMediaChunk(read, facts.size, [&](std::int64_t index, std::string_view bytes) {
        db->Run("INSERT INTO 媒体块 (名称, 序号, 内容) VALUES ($1, $2::bigint, $3)",
                {facts.name, std::to_string(index), PgValue::Bytes(bytes)});
      });
      db->Run("UPDATE 用量 SET 媒体字节 = 媒体字节 + $1::bigint WHERE 编号 = 1", {size});
      AddUsage(*db, sender.key, day, {.media = facts.size});
    }
    db->Run(
        "INSERT INTO 媒体上传 (名称, 硬盘ID摘要, 上传时间) "
        "VALUES ($1, $2, extract(epoch FROM now())::bigint) "
        "ON CONFLICT (名称, 硬盘ID摘要) DO UPDATE SET 上传时间 = excluded.上传时间",
        {facts.name, owner.hex()});
    return MediaStoreResult::kStored;
  });
}

std::optional<MediaFacts> PostgresStorage::FindMedia(std::string_view name) {
  Hasher();
  Lease db = Acquire();
  const PgResult row = db->Run("SELECT 类型, 大小 FROM 媒体 WHERE 名称 = $1", {name});
  if (row.Rows() == 0) return std::nullopt;
  return MediaFacts{std::string(name), std::string(row.Get(0, 0)),
                    static_cast<std::uint64_t>(row.Int(0, 1))};
}

void PostgresStorage::ReadMedia(std::string_view name, std::uint64_t offset, std::uint64_t length,
                                const std::function<void(std::string_view)>& take) {
  if (length == 0) return;
  Hasher();
  Lease db = Acquire();
  const std::uint64_t end = offset + length;
  // One chunk a statement: a large range never sits in memory whole.
  for (std::uint64_t index = offset / kMediaChunk; index <= (end - 1) / kMediaChunk; ++index) {
    const PgResult row = db->Run("SELECT 内容 FROM 媒体块 WHERE 名称 = $1 AND 序号 = $2::bigint",
                                 {name, std::to_string(index)}, /*binary=*/true);
    if (row.Rows() == 0) return;
    const std::string_view bytes = row.Get(0, 0);
    const std::uint64_t start = index * kMediaChunk;
    const std::uint64_t from = std::max(offset, start);
    const std::uint64_t to = std::min<std::uint64_t>(end, start + bytes.size());
    if (from < to) take(bytes.substr(from - start, to - from));
  }
}

std::vector<std::string> PostgresStorage::SweepMedia(std::int64_t uploaded_before) {
  Hasher();
  Lease db = Acquire();
  return db->Transaction([&] {
    db->Run("SELECT 1 FROM 用量 WHERE 编号 = 1 FOR UPDATE");
    // The uploader's pages are searched for the file's name as bytes: an
    // address in a page is ASCII, whatever the page's encoding.
    db->Run(
        "DELETE FROM 媒体上传 u WHERE u.上传时间 < $1::bigint AND NOT EXISTS ("
        "  SELECT 1 FROM 页面 p JOIN 免费 c ON c.文件名 = p.文件名"
        "  WHERE c.硬盘ID摘要 = u.硬盘ID摘要 AND position(convert_to(u.名称, 'UTF8') IN p.内容) > "
        "0)",
        {std::to_string(uploaded_before)});
    const PgResult gone = db->Run(
        "DELETE FROM 媒体 m WHERE NOT EXISTS (SELECT 1 FROM 媒体上传 u WHERE u.名称 = m.名称) "
        "RETURNING 名称, 大小");
    std::vector<std::string> removed;
    std::int64_t freed = 0;
    for (int row = 0; row < gone.Rows(); ++row) {
      removed.emplace_back(gone.Get(row, 0));
      freed += gone.Int(row, 1);
    }
    if (freed > 0)
      db->Run("UPDATE 用量 SET 媒体字节 = 媒体字节 - $1::bigint WHERE 编号 = 1",
              {std::to_string(freed)});
    PruneUsage(*db, UsageDay(std::time(nullptr)) - kAddressUsageDays + 1);
    return removed;
  });
}

AdminResult PostgresStorage::RemoveMedia(std::string_view sha256, std::string_view reason) {
  Hasher();
  Lease db = Acquire();
  const std::string prefix = std::string(sha256) + ".";
  return db->Transaction([&] {
    // The chunks and the uploads go with the file (ON DELETE CASCADE).
    const PgResult removed = db->Run(
        "WITH gone AS (DELETE FROM 媒体 WHERE left(名称, 65) = $1 RETURNING 大小) "
        "SELECT COUNT(*), COALESCE(SUM(大小), 0) FROM gone",
        {prefix});
    const bool stored = removed.Int(0, 0) > 0;
    if (stored)
      db->Run("UPDATE 用量 SET 媒体字节 = 媒体字节 - $1::bigint WHERE 编号 = 1",
              {std::string(removed.Get(0, 1))});
    const bool refused_now =
        (0 <
         db->Run("INSERT INTO admin_removed_media (sha256, at, reason) "
                 "VALUES ($1, $2::bigint, $3) ON CONFLICT (sha256) DO NOTHING RETURNING 1",
                 {sha256, std::to_string(static_cast<std::int64_t>(std::time(nullptr))), reason})
             .Rows());
    if (!stored && !refused_now) return AdminResult::kAlready;
    db->Run("INSERT INTO admin_log (at, action, target, reason) VALUES ($1, $2, $3, $4)",
            {static_cast<std::int64_t>(std::time(nullptr)), "remove-media", sha256, reason});
    return stored ? AdminResult::kDone : AdminResult::kUnknown;
  });
}

void PostgresStorage::Backup(const std::filesystem::path& /*file*/) {
  throw StorageError("a PostgreSQL database is copied with pg_dump");
}

}  // namespace heartpage::server
