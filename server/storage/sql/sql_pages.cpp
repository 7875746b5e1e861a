// The published pages: storing one within the room of the site and of its
// sender's address, reading it back with its gate, and its compressed bytes.
#include <ctime>

#include "server/storage/page_buffers.h"
#include "server/storage/sql/sql_address_usage.h"
#include "server/storage/sql/sql_storage.h"

namespace heartpage::server {
namespace {

// Never NULL, which says "not known": empty bytes say "not worth it".
SqlValue CompressedValue(std::string_view compressed) {
  return SqlValue::Bytes(compressed.data() != nullptr ? compressed : std::string_view(""));
}

}  // namespace

void StoreGate(SqlSession& db, std::string_view name, const PageGate& gate) {
  db.RunLater("DELETE FROM page_gates WHERE name = $1", {name});
  if (gate.empty()) return;
  db.RunLater("INSERT INTO page_gates (name, opens, code_hash, hint) VALUES ($1, $2, $3, $4)",
              {name, gate.opens, gate.code_hash, gate.hint});
}

StoreResult SqlStorage::StorePage(const MachineIdHash& owner, std::string_view name,
                                  std::string_view bytes, const AddressBudget& sender,
                                  const PageGate& gate) {
  const std::string etag = PageEtag(bytes);
  const std::int64_t now = std::time(nullptr);
  const std::int64_t day = UsageDay(now);
  return Write([&](SqlSession& db) {
    {
      SqlRows claim = db.Run("SELECT 硬盘ID摘要 FROM 免费 WHERE 文件名 = $1 FOR SHARE", {name});
      if (!claim) return StoreResult::kUnclaimed;
      if (claim.View(0) != owner.hex()) return StoreResult::kNotOwner;
    }
    std::int64_t before = 0;
    if (SqlRows page =
            db.Run("SELECT octet_length(内容) FROM 页面 WHERE 文件名 = $1 FOR UPDATE", {name}))
      before = page.Int(0);
    const std::int64_t growth = static_cast<std::int64_t>(bytes.size()) - before;
    // The one row of the total serialises the stores of all servers, but
    // only while they commit. A page that does not grow may always be
    // replaced, so an owner can still make room, or fix a page, when full.
    if (growth != 0) {
      const std::uint64_t total =
          db.Run("SELECT 页面字节 + 媒体字节 FROM 用量 WHERE 编号 = 1 FOR UPDATE").Count(0);
      if (growth > 0 && total + static_cast<std::uint64_t>(growth) > page_limit_)
        return StoreResult::kOverQuota;
    }
    if (growth > 0 && !sender.key.empty()) {
      // After the total, as media lock them: another server storing for the
      // same address waits for this one's count.
      const auto grown = static_cast<std::uint64_t>(growth);
      const StoreResult share =
          PageShareVerdict(sender, grown, LockUsage(db, sender.key, day).pages,
                           PagesSince(db, sender.key, day - kAddressUsageDays + 1));
      if (share != StoreResult::kStored) return share;
      AddUsage(db, sender.key, day, {.pages = grown});
    }
    // Nothing below is read back before the announcement: one round trip.
    if (growth != 0)
      db.RunLater("UPDATE 用量 SET 页面字节 = 页面字节 + $1 WHERE 编号 = 1", {growth});
    db.RunLater(
        "INSERT INTO 页面 (文件名, 内容, 修改时间, 标签, 压缩) VALUES ($1, $2, $3, $4, NULL) "
        "ON CONFLICT (文件名) DO UPDATE SET 内容 = excluded.内容, 修改时间 = excluded.修改时间, "
        "标签 = excluded.标签, 压缩 = NULL",
        {name, SqlValue::Bytes(bytes), now, etag});
    StoreGate(db, name, gate);
    db.RunLater("DELETE FROM 撤下 WHERE 文件名 = $1", {name});
    Announce(db, name, ChangedBy::kOwner);
    return StoreResult::kStored;
  });
}

std::shared_ptr<const StoredPage> SqlStorage::LoadForm(std::string_view name, PageForm form) {
  // $2: 1 the bytes alone, 2 the compressed bytes alone unless the page has
  // none worth sending, which its reader then gets as they are; 0 both. A
  // form left out is never copied out of the database.
  const int wanted = form == PageForm::kPlain ? 1 : form == PageForm::kCompressed ? 2 : 0;
  return Read([&](SqlSession& db) -> std::shared_ptr<const StoredPage> {
    SqlRows row = db.Run(
        "SELECT CASE WHEN $2 <> 2 OR 压缩 IS NULL OR octet_length(压缩) = 0 THEN 内容 END, "
        "修改时间, 标签, EXISTS (SELECT 1 FROM admin_withheld WHERE name = $1), "
        "COALESCE(g.opens, 0), COALESCE(g.code_hash, ''), COALESCE(g.hint, ''), "
        "CASE WHEN $2 <> 1 THEN 压缩 END, 压缩 IS NULL "
        "FROM 页面 LEFT JOIN page_gates AS g ON g.name = 文件名 WHERE 文件名 = $1",
        {name, wanted});
    if (!row) return nullptr;
    auto page = PageBuffers::NewPage();
    page->plain_left_out = row.IsNull(0);
    if (!page->plain_left_out) PageBuffers::Fill(page->bytes, row.View(0));
    page->modified = row.Int(1);
    page->etag = row.Text(2);
    page->withheld = row.Truth(3);
    page->gate = {row.Int(4), row.Text(5), row.Text(6)};
    page->compressed_unknown = row.Truth(8);
    page->compressed_left_out = wanted == 1 && !page->compressed_unknown;
    if (!page->compressed_left_out) PageBuffers::Fill(page->compressed, row.View(7));
    return page;
  });
}

void SqlStorage::KeepCompressed(std::string_view name, std::string_view etag,
                                std::string_view compressed) {
  // No server keeps such a page in memory meanwhile (CachingStorage), so no
  // other needs telling.
  Write(
      [&](SqlSession& db) {
        db.Run("UPDATE 页面 SET 压缩 = $3 WHERE 文件名 = $1 AND 标签 = $2 AND 压缩 IS NULL",
               {name, etag, CompressedValue(compressed)});
      },
      // Lost in a crash, it is only made again.
      /*synced=*/false);
}

}  // namespace heartpage::server
