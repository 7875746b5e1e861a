// Pages taken down, names released, and the senders' own files. The one row
// of the site's totals (用量) orders every change of them on every server,
// so that neither a sender's quota nor the site's can be passed by two
// stores at once.
#include <algorithm>
#include <ctime>

#include "server/storage/sql/sql_address_usage.h"
#include "server/storage/sql/sql_storage.h"

namespace heartpage::server {
namespace {

// Frees what the page of `name` took, when there is one.
void ForgetPage(SqlSession& db, std::string_view name) {
  std::int64_t freed = 0;
  {
    SqlRows gone =
        db.Run("DELETE FROM 页面 WHERE 文件名 = $1 RETURNING octet_length(内容)", {name});
    if (!gone) return;
    freed = gone.Int(0);
  }
  db.Run("UPDATE 用量 SET 页面字节 = 页面字节 - $1 WHERE 编号 = 1", {freed});
}

}  // namespace

TakeDownResult SqlStorage::TakeDownPage(const MachineIdHash& owner, std::string_view name) {
  const std::int64_t now = std::time(nullptr);
  return Write([&](SqlSession& db) {
    {
      SqlRows claim = db.Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 FOR SHARE", {name});
      if (!claim) return TakeDownResult::kUnclaimed;
      if (claim.View(0) != owner.hex()) return TakeDownResult::kNotOwner;
    }
    ForgetPage(db, name);
    db.Run(
        "INSERT INTO 撤下 (文件名, 撤下时间) VALUES ($1, $2) "
        "ON CONFLICT (文件名) DO UPDATE SET 撤下时间 = excluded.撤下时间",
        {name, now});
    // Every server drops the page it keeps, as after a store.
    Announce(db, name, ChangedBy::kOwner);
    return TakeDownResult::kTakenDown;
  });
}

bool SqlStorage::WasTakenDown(std::string_view name) {
  return Read([&](SqlSession& db) {
    return static_cast<bool>(db.Run("SELECT 1 FROM 撤下 WHERE 文件名 = $1", {name}));
  });
}

ReleaseResult SqlStorage::ReleaseName(const MachineIdHash& owner, std::string_view name) {
  return Write([&](SqlSession& db) {
    {
      // FOR UPDATE: a store of the same name on another server waits for
      // this and then finds the name unclaimed.
      SqlRows claim = db.Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 FOR UPDATE", {name});
      if (!claim) return ReleaseResult::kUnclaimed;
      if (claim.View(0) != owner.hex()) return ReleaseResult::kNotOwner;
    }
    ForgetPage(db, name);
    db.Run("DELETE FROM 撤下 WHERE 文件名 = $1", {name});
    db.Run("DELETE FROM 免费 WHERE 文件名 = $1", {name});
    Announce(db, name, ChangedBy::kOwner);
    return ReleaseResult::kReleased;
  });
}

MediaStoreResult SqlStorage::StoreMedia(const MachineIdHash& owner, const MediaFacts& facts,
                                        const MediaReader& read, std::uint64_t owner_quota,
                                        const AddressBudget& sender) {
  const std::int64_t now = std::time(nullptr);
  const std::int64_t day = UsageDay(now);
  const bool limited = page_limit_ != UINT64_MAX;
  return Write([&](SqlSession& db) {
    std::uint64_t total = 0;
    std::uint64_t media = 0;
    {
      SqlRows totals =
          db.Run("SELECT 页面字节 + 媒体字节, 媒体字节 FROM 用量 WHERE 编号 = 1 FOR UPDATE");
      total = totals.Count(0);
      media = totals.Count(1);
    }
    if (!db.Run("SELECT 1 FROM 媒体上传 WHERE 名称 = $1 AND 硬盘ID摘要 = $2",
                {facts.name, owner.hex()}) &&
        db.Run("SELECT COALESCE(SUM(媒体.大小), 0) FROM 媒体上传 JOIN 媒体 USING (名称) "
               "WHERE 媒体上传.硬盘ID摘要 = $1",
               {owner.hex()})
                    .Count(0) +
                facts.size >
            owner_quota)
      return MediaStoreResult::kOverOwnerQuota;
    if (!db.Run("SELECT 1 FROM 媒体 WHERE 名称 = $1", {facts.name})) {
      if (total + facts.size > page_limit_ ||
          (limited && media + facts.size > MediaRoomOf(page_limit_)))
        return MediaStoreResult::kOverQuota;
      if (!sender.key.empty()) {
        if (limited && MediaSince(db, sender.key, day - kAddressUsageDays + 1) + facts.size >
                           MediaRoomOf(page_limit_) / kAddressShareOfMediaRoom)
          return MediaStoreResult::kOverAddressShare;
        const AddressDay today = LockUsage(db, sender.key, day);
        if (today.media + today.previews + facts.size > sender.daily)
          return MediaStoreResult::kOverAddressDaily;
      }
      db.Run("INSERT INTO 媒体 (名称, 类型, 大小) VALUES ($1, $2, $3)",
             {facts.name, facts.content_type, facts.size});
      ForEachMediaChunk(read, facts.size, [&](std::int64_t index, std::string_view bytes) {
        db.Run("INSERT INTO 媒体块 (名称, 序号, 内容) VALUES ($1, $2, $3)",
               {facts.name, index, SqlValue::Bytes(bytes)});
      });
      db.Run("UPDATE 用量 SET 媒体字节 = 媒体字节 + $1 WHERE 编号 = 1", {facts.size});
      AddUsage(db, sender.key, day, {.media = facts.size});
    }
    db.Run(
        "INSERT INTO 媒体上传 (名称, 硬盘ID摘要, 上传时间) VALUES ($1, $2, $3) "
        "ON CONFLICT (名称, 硬盘ID摘要) DO UPDATE SET 上传时间 = excluded.上传时间",
        {facts.name, owner.hex(), now});
    return MediaStoreResult::kStored;
  });
}

std::optional<MediaFacts> SqlStorage::FindMedia(std::string_view name) {
  return Read([&](SqlSession& db) -> std::optional<MediaFacts> {
    SqlRows row = db.Run("SELECT 类型, 大小 FROM 媒体 WHERE 名称 = $1", {name});
    if (!row) return std::nullopt;
    return MediaFacts{std::string(name), row.Text(0), row.Count(1)};
  });
}

void SqlStorage::ReadMedia(std::string_view name, std::uint64_t offset, std::uint64_t length,
                           const std::function<void(std::string_view)>& take) {
  if (length == 0) return;
  const std::uint64_t end = offset + length;
  Read([&](SqlSession& db) {
    // One chunk a statement: a large range never sits in memory whole.
    for (std::uint64_t index = offset / kMediaChunk; index <= (end - 1) / kMediaChunk; ++index) {
      SqlRows row = db.Run("SELECT 内容 FROM 媒体块 WHERE 名称 = $1 AND 序号 = $2", {name, index});
      if (!row) return;
      const std::string_view bytes = row.View(0);
      const std::uint64_t start = index * kMediaChunk;
      const std::uint64_t from = std::max(offset, start);
      const std::uint64_t to = std::min<std::uint64_t>(end, start + bytes.size());
      if (from < to) take(bytes.substr(from - start, to - from));
    }
  });
}

std::vector<std::string> SqlStorage::SweepMedia(std::int64_t uploaded_before) {
  const std::int64_t first_day = UsageDay(std::time(nullptr)) - kAddressUsageDays + 1;
  return Write([&](SqlSession& db) {
    db.Run("SELECT 1 FROM 用量 WHERE 编号 = 1 FOR UPDATE");
    // The uploader's pages are searched for the file's name as bytes: an
    // address in a page is ASCII, whatever the page's encoding.
    db.Run(db.Dialect() == SqlDialect::kSqlite
               ? "DELETE FROM 媒体上传 WHERE 上传时间 < $1 AND NOT EXISTS ("
                 "  SELECT 1 FROM 页面 p JOIN 免费 c ON c.文件名 = p.文件名"
                 "  WHERE c.硬盘ID摘要 = 媒体上传.硬盘ID摘要"
                 "    AND instr(p.内容, CAST(媒体上传.名称 AS BLOB)) > 0)"
               : "DELETE FROM 媒体上传 WHERE 上传时间 < $1 AND NOT EXISTS ("
                 "  SELECT 1 FROM 页面 p JOIN 免费 c ON c.文件名 = p.文件名"
                 "  WHERE c.硬盘ID摘要 = 媒体上传.硬盘ID摘要"
                 "    AND position(convert_to(媒体上传.名称, 'UTF8') IN p.内容) > 0)",
           {uploaded_before});
    std::vector<std::string> removed;
    std::int64_t freed = 0;
    for (SqlRows gone = db.Run(
             "DELETE FROM 媒体 WHERE NOT EXISTS "
             "(SELECT 1 FROM 媒体上传 WHERE 媒体上传.名称 = 媒体.名称) RETURNING 名称, 大小");
         gone; gone.Next()) {
      removed.push_back(gone.Text(0));
      freed += gone.Int(1);
    }
    for (const std::string& name : removed) db.Run("DELETE FROM 媒体块 WHERE 名称 = $1", {name});
    if (freed > 0) db.Run("UPDATE 用量 SET 媒体字节 = 媒体字节 - $1 WHERE 编号 = 1", {freed});
    db.Run("DELETE FROM 地址用量 WHERE 日 < $1", {first_day});
    return removed;
  });
}

AdminResult SqlStorage::RemoveMedia(std::string_view sha256, std::string_view reason) {
  const std::string prefix = std::string(sha256) + ".";
  const std::int64_t now = std::time(nullptr);
  return Write([&](SqlSession& db) {
    db.Run("SELECT 1 FROM 用量 WHERE 编号 = 1 FOR UPDATE");
    bool stored = false;
    std::int64_t freed = 0;
    {
      SqlRows removed =
          db.Run("SELECT COUNT(*), COALESCE(SUM(大小), 0) FROM 媒体 WHERE substr(名称, 1, 65) = $1",
                 {prefix});
      stored = removed.Int(0) > 0;
      freed = removed.Int(1);
    }
    if (stored) {
      db.Run("DELETE FROM 媒体块 WHERE substr(名称, 1, 65) = $1", {prefix});
      db.Run("DELETE FROM 媒体上传 WHERE substr(名称, 1, 65) = $1", {prefix});
      db.Run("DELETE FROM 媒体 WHERE substr(名称, 1, 65) = $1", {prefix});
      db.Run("UPDATE 用量 SET 媒体字节 = 媒体字节 - $1 WHERE 编号 = 1", {freed});
    }
    const bool refused_now = static_cast<bool>(
        db.Run("INSERT INTO admin_removed_media (sha256, at, reason) VALUES ($1, $2, $3) "
               "ON CONFLICT (sha256) DO NOTHING RETURNING 1",
               {sha256, now, reason}));
    if (!stored && !refused_now) return AdminResult::kAlready;
    db.Run("INSERT INTO admin_log (at, action, target, reason) VALUES ($1, $2, $3, $4)",
           {now, "remove-media", sha256, reason});
    return stored ? AdminResult::kDone : AdminResult::kUnknown;
  });
}

}  // namespace heartpage::server
