// Pages taken down and the senders' own files, in the SQLite store.
#include <ctime>
#include <vector>

#include "server/storage/sqlite/sqlite_address_usage.h"
#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {

TakeDownResult SqliteStorage::TakeDownPage(const MachineIdHash& owner, std::string_view name) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  std::uint64_t freed = 0;
  const TakeDownResult result = db->Write([&] {
    auto claimed = db->Prepare("SELECT 硬盘ID摘要 = ?2 FROM 免费 WHERE 文件名 = ?1");
    claimed.Bind(1, name).Bind(2, owner.hex());
    if (!claimed.Step()) return TakeDownResult::kUnclaimed;
    if (claimed.Int(0) == 0) return TakeDownResult::kNotOwner;
    auto size = db->Prepare("SELECT LENGTH(内容) FROM 页面 WHERE 文件名 = ?");
    size.Bind(1, name);
    freed = size.Step() ? static_cast<std::uint64_t>(size.Int(0)) : 0;
    auto remove = db->Prepare("DELETE FROM 页面 WHERE 文件名 = ?");
    remove.Bind(1, name);
    remove.Step();
    auto mark = db->Prepare("INSERT OR REPLACE INTO 撤下 (文件名, 撤下时间) VALUES (?, ?)");
    mark.Bind(1, name).Bind(2, static_cast<std::int64_t>(std::time(nullptr)));
    mark.Step();
    return TakeDownResult::kTakenDown;
  });
  if (result == TakeDownResult::kTakenDown && page_limit_) page_bytes_ -= freed;
  return result;
}

bool SqliteStorage::WasTakenDown(std::string_view name) {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 1 FROM 撤下 WHERE 文件名 = ?");
  query.Bind(1, name);
  return query.Step();
}

ReleaseResult SqliteStorage::ReleaseName(const MachineIdHash& owner, std::string_view name) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  std::uint64_t freed = 0;
  const ReleaseResult result = db->Write([&] {
    auto claimed = db->Prepare("SELECT 硬盘ID摘要 = ?2 FROM 免费 WHERE 文件名 = ?1");
    claimed.Bind(1, name).Bind(2, owner.hex());
    if (!claimed.Step()) return ReleaseResult::kUnclaimed;
    if (claimed.Int(0) == 0) return ReleaseResult::kNotOwner;
    auto size = db->Prepare("SELECT LENGTH(内容) FROM 页面 WHERE 文件名 = ?");
    size.Bind(1, name);
    freed = size.Step() ? static_cast<std::uint64_t>(size.Int(0)) : 0;
    for (const char* sql :
         {"DELETE FROM 页面 WHERE 文件名 = ?", "DELETE FROM 撤下 WHERE 文件名 = ?",
          "DELETE FROM 免费 WHERE 文件名 = ?"}) {
      auto remove = db->Prepare(sql);
      remove.Bind(1, name);
      remove.Step();
    }
    return ReleaseResult::kReleased;
  });
  if (result == ReleaseResult::kReleased && page_limit_) page_bytes_ -= freed;
  return result;
}

MediaStoreResult SqliteStorage::StoreMedia(const MachineIdHash& owner, const MediaFacts& facts,
                                           const MediaReader& read, std::uint64_t owner_quota,
                                           const AddressBudget& sender) {
  const std::int64_t now = std::time(nullptr);
  const std::int64_t day = UsageDay(now);
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  bool added = false;
  const MediaStoreResult result = db->Write([&] {
    auto mine = db->Prepare("SELECT 1 FROM 媒体上传 WHERE 名称 = ? AND 硬盘ID摘要 = ?");
    mine.Bind(1, facts.name).Bind(2, owner.hex());
    const bool sent_before = mine.Step();
    if (!sent_before) {
      auto used = db->Prepare(
          "SELECT COALESCE(SUM(媒体.大小), 0) FROM 媒体上传 JOIN 媒体 USING (名称) "
          "WHERE 媒体上传.硬盘ID摘要 = ?");
      used.Bind(1, owner.hex());
      used.Step();
      if (static_cast<std::uint64_t>(used.Int(0)) + facts.size > owner_quota)
        return MediaStoreResult::kOverOwnerQuota;
    }
    auto kept = db->Prepare("SELECT 1 FROM 媒体 WHERE 名称 = ?");
    kept.Bind(1, facts.name);
    if (!kept.Step()) {
      if (page_limit_ && (page_bytes_ + media_bytes_ + facts.size > *page_limit_ ||
                          media_bytes_ + facts.size > MediaRoomOf(*page_limit_)))
        return MediaStoreResult::kOverQuota;
      if (!sender.key.empty()) {
        if (page_limit_ && MediaSince(*db, sender.key, day - kAddressUsageDays + 1) + facts.size >
                               MediaRoomOf(*page_limit_) / kAddressShareOfMediaRoom)
          return MediaStoreResult::kOverAddressShare;
        const AddressDay today = UsageOn(*db, sender.key, day);
        if (today.media + today.previews + facts.size > sender.daily)
          return MediaStoreResult::kOverAddressDaily;
      }
      auto file = db->Prepare("INSERT INTO 媒体 (名称, 类型, 大小) VALUES (?, ?, ?)");
      file.Bind(1, facts.name)
          .Bind(2, facts.content_type)
          .Bind(3, static_cast<std::int64_t>(facts.size));
      file.Step();
      ForEachMediaChunk(read, facts.size, [&](std::int64_t index, std::string_view bytes) {
        auto piece = db->Prepare("INSERT INTO 媒体块 (名称, 序号, 内容) VALUES (?, ?, ?)");
        piece.Bind(1, facts.name).Bind(2, index).BindBlob(3, bytes);
        piece.Step();
      });
      AddUsage(*db, sender.key, day, {.media = facts.size});
      added = true;
    }
    auto upload = db->Prepare(
        "INSERT OR REPLACE INTO 媒体上传 (名称, 硬盘ID摘要, 上传时间) VALUES (?, ?, ?)");
    upload.Bind(1, facts.name).Bind(2, owner.hex()).Bind(3, now);
    upload.Step();
    return MediaStoreResult::kStored;
  });
  if (added && page_limit_) media_bytes_ += facts.size;
  return result;
}

std::optional<MediaFacts> SqliteStorage::FindMedia(std::string_view name) {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 类型, 大小 FROM 媒体 WHERE 名称 = ?");
  query.Bind(1, name);
  if (!query.Step()) return std::nullopt;
  return MediaFacts{std::string(name), query.Text(0), static_cast<std::uint64_t>(query.Int(1))};
}

void SqliteStorage::ReadMedia(std::string_view name, std::uint64_t offset, std::uint64_t length,
                              const std::function<void(std::string_view)>& take) {
  if (length == 0) return;
  Lease db = Acquire();
  const std::uint64_t first = offset / kMediaChunk;
  const std::uint64_t last = (offset + length - 1) / kMediaChunk;
  auto query = db->Prepare(
      "SELECT 序号, 内容 FROM 媒体块 WHERE 名称 = ? AND 序号 BETWEEN ? AND ? ORDER BY 序号");
  query.Bind(1, name)
      .Bind(2, static_cast<std::int64_t>(first))
      .Bind(3, static_cast<std::int64_t>(last));
  const std::uint64_t end = offset + length;
  while (query.Step()) {
    const std::uint64_t start = static_cast<std::uint64_t>(query.Int(0)) * kMediaChunk;
    const std::string bytes = query.Blob(1);
    const std::uint64_t from = std::max(offset, start);
    const std::uint64_t to = std::min(end, start + bytes.size());
    if (from < to) take(std::string_view(bytes).substr(from - start, to - from));
  }
}

std::vector<std::string> SqliteStorage::SweepMedia(std::int64_t uploaded_before) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  std::vector<std::string> removed;
  std::uint64_t freed = 0;
  db->Write([&] {
    // The uploader's pages are searched for the file's name as bytes: an
    // address in a page is ASCII, whatever the page's encoding.
    auto unused = db->Prepare(
        "DELETE FROM 媒体上传 WHERE 上传时间 < ?1 AND NOT EXISTS ("
        "  SELECT 1 FROM 页面 JOIN 免费 USING (文件名)"
        "  WHERE 免费.硬盘ID摘要 = 媒体上传.硬盘ID摘要"
        "    AND instr(页面.内容, CAST(媒体上传.名称 AS BLOB)) > 0)");
    unused.Bind(1, uploaded_before);
    unused.Step();
    auto orphans = db->Prepare(
        "SELECT 名称, 大小 FROM 媒体 WHERE NOT EXISTS ("
        "  SELECT 1 FROM 媒体上传 WHERE 媒体上传.名称 = 媒体.名称)");
    while (orphans.Step()) {
      removed.push_back(orphans.Text(0));
      freed += static_cast<std::uint64_t>(orphans.Int(1));
    }
    PruneUsage(*db, UsageDay(std::time(nullptr)) - kAddressUsageDays + 1);
    for (const std::string& name : removed) {
      auto chunks = db->Prepare("DELETE FROM 媒体块 WHERE 名称 = ?");
      chunks.Bind(1, name);
      chunks.Step();
      auto file = db->Prepare("DELETE FROM 媒体 WHERE 名称 = ?");
      file.Bind(1, name);
      file.Step();
    }
    return 0;
  });
  if (page_limit_) media_bytes_ -= freed;
  return removed;
}

}  // namespace heartpage::server
