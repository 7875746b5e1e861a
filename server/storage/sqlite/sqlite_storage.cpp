#include "server/storage/sqlite/sqlite_storage.h"

#include <ctime>
#include <functional>

#include "server/storage/sql/sql_address_usage.h"
#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_migration.h"

namespace heartpage::server {
namespace {

// 1: identifiers in the clear, names as sent. 2: identifiers hashed, names in
// small letters. 3: temporary previews. 4: pages taken down, and the senders'
// own files. 5: pages that open at a moment or to a code, which an older
// server would show to anyone at once. 6: claims numbered in a column of
// their own. 7: pages and previews compressed beside their bytes; rows from
// before have none (NULL), and their pages learn theirs when first served.
constexpr int kSchemaVersion = 7;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS 系统设置 (
  编号 INTEGER PRIMARY KEY CHECK (编号 = 1),
  公告 TEXT,
  版本号 TEXT,
  下载地址 TEXT
);
INSERT OR IGNORE INTO 系统设置 (编号) VALUES (1);
CREATE TABLE IF NOT EXISTS 免费 (
  序号 INTEGER PRIMARY KEY,
  硬盘ID摘要 TEXT NOT NULL,
  文件名 TEXT NOT NULL UNIQUE CHECK (文件名 = lower(文件名)),
  认领时间 TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS 免费_硬盘ID摘要 ON 免费 (硬盘ID摘要);
CREATE TABLE IF NOT EXISTS 页面 (
  文件名 TEXT PRIMARY KEY,
  内容 BLOB NOT NULL,
  修改时间 INTEGER NOT NULL,
  标签 TEXT NOT NULL
);
)sql";

// Version 3. Files are kept in chunks of kMediaChunk bytes, so that reading
// a range of one reads only the rows that hold it; who sent a file is kept
// per sender, for their quota and for the sweep. Version 6: the bytes of all
// pages and media in one row, counted from what is there when it is made.
constexpr const char* kMediaSchema = R"sql(
CREATE TABLE IF NOT EXISTS 撤下 (
  文件名 TEXT PRIMARY KEY,
  撤下时间 INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS 媒体 (
  名称 TEXT PRIMARY KEY,
  类型 TEXT NOT NULL,
  大小 INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS 媒体块 (
  名称 TEXT NOT NULL,
  序号 INTEGER NOT NULL,
  内容 BLOB NOT NULL,
  PRIMARY KEY (名称, 序号)
);
CREATE TABLE IF NOT EXISTS 媒体上传 (
  名称 TEXT NOT NULL,
  硬盘ID摘要 TEXT NOT NULL,
  上传时间 INTEGER NOT NULL,
  PRIMARY KEY (名称, 硬盘ID摘要)
);
CREATE INDEX IF NOT EXISTS 媒体上传_硬盘ID摘要 ON 媒体上传 (硬盘ID摘要);
CREATE TABLE IF NOT EXISTS 用量 (
  编号 INTEGER PRIMARY KEY CHECK (编号 = 1),
  页面字节 INTEGER NOT NULL,
  媒体字节 INTEGER NOT NULL
);
INSERT OR IGNORE INTO 用量 SELECT 1, (SELECT COALESCE(SUM(LENGTH(内容)), 0) FROM 页面),
  (SELECT COALESCE(SUM(大小), 0) FROM 媒体);
)sql";

}  // namespace

SqliteStorage::SqliteStorage(std::filesystem::path file, std::string key,
                             const StorageOptions& options,
                             const std::function<void(const std::string&)>& note, std::string vfs)
    : SqlStorage(options),
      file_(std::move(file)),
      key_(std::move(key)),
      hash_(key_),
      vfs_(std::move(vfs)) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  const bool migrated = db->Write([&] {
    std::int64_t found = 0;
    {
      auto version = db->Prepare("PRAGMA user_version");
      version.Step();
      found = version.Int(0);
    }
    if (found > kSchemaVersion)
      throw StorageError(file_.string() + " was written by a newer heartpage-server");
    const bool old = HasClearMachineIds(*db);
    if (old)
      MigrateToHashedIdsAndSmallNames(
          *db, hash_, note ? note : [](const std::string&) {});
    db->Exec(kSchema);
    if (!HasColumn(*db, "免费", "序号")) NumberClaims(*db);
    if (found < 3) AddPreviewTable(*db);
    db->Exec(kMediaSchema);
    AddAddressUsage(*db);
    if (!HasColumn(*db, "预览", "序号")) NumberPreviews(*db);
    AddReportTables(*db);
    AddReceiptTables(*db);
    AddAdminTables(*db);
    AddGateTables(*db);
    if (!HasColumn(*db, "页面", "压缩")) db->Exec("ALTER TABLE 页面 ADD COLUMN 压缩 BLOB");
    if (!HasColumn(*db, "预览", "压缩")) db->Exec("ALTER TABLE 预览 ADD COLUMN 压缩 BLOB");
    // Written only when it changes: a start that writes nothing still starts,
    // and serves what it has, on a full disk.
    if (found != kSchemaVersion)
      db->Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
    return old;
  });
  if (migrated) ForgetClearMachineIds(*db);
  // The connection that opened the database is the first of them.
  std::vector<Lease> more;
  for (std::size_t i = 1; i < options.connections; ++i) {
    more.push_back(Acquire());
    // A connection opens its journal files on first use.
    auto ready = more.back()->Prepare("SELECT 1 FROM 系统设置");
    ready.Step();
  }
}

SqliteStorage::~SqliteStorage() = default;

SqliteStorage::Lease SqliteStorage::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return Lease(*this, std::move(connection));
    }
  }
  return Lease(*this, std::make_unique<Connection>(file_, vfs_));
}

void SqliteStorage::Release(std::unique_ptr<Connection> connection) {
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(connection));
}

void SqliteStorage::Borrow(const Work& work) {
  Lease db = Acquire();
  work(*db);
}

void SqliteStorage::Transact(const Work& work, bool synced) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  db->Write(
      [&] {
        work(*db);
        return 0;
      },
      synced);
}

StoreResult SqliteStorage::StorePage(const MachineIdHash& owner, std::string_view name,
                                     std::string_view bytes, const AddressBudget& sender,
                                     const PageGate& gate, std::string_view compressed) {
  const std::string etag = PageEtag(bytes);
  const std::int64_t now = std::time(nullptr);
  const std::int64_t day = UsageDay(now);
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto claimed = db->Prepare("SELECT 硬盘ID摘要 = ?2 FROM 免费 WHERE 文件名 = ?1");
    claimed.Bind(1, name).Bind(2, owner.hex());
    if (!claimed.Step()) return StoreResult::kUnclaimed;
    if (claimed.Int(0) == 0) return StoreResult::kNotOwner;
    auto previous = db->Prepare("SELECT LENGTH(内容) FROM 页面 WHERE 文件名 = ?");
    previous.Bind(1, name);
    const std::uint64_t before = previous.Step() ? previous.Int(0) : 0;
    const std::uint64_t growth = bytes.size() > before ? bytes.size() - before : 0;
    // A page that does not grow may always be replaced: an owner can still
    // make room, or fix a page, on a full server.
    if (growth > 0 &&
        db->Run("SELECT 页面字节 + 媒体字节 FROM 用量 WHERE 编号 = 1").Count(0) + growth >
            page_limit_)
      return StoreResult::kOverQuota;
    if (growth > 0 && !sender.key.empty()) {
      const StoreResult share =
          PageShareVerdict(sender, growth, LockUsage(*db, sender.key, day).pages,
                           PagesSince(*db, sender.key, day - kAddressUsageDays + 1));
      if (share != StoreResult::kStored) return share;
    }
    auto upsert = db->Prepare(
        "INSERT INTO 页面 (文件名, 内容, 修改时间, 标签, 压缩) VALUES (?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT (文件名) DO UPDATE SET 内容 = ?2, 修改时间 = ?3, 标签 = ?4, 压缩 = ?5");
    upsert.Bind(1, name).BindBlob(2, bytes).Bind(3, now).Bind(4, etag);
    // Never NULL, which would say "not known": an empty blob is "not worth it".
    upsert.BindBlob(5, compressed.data() != nullptr ? compressed : std::string_view(""));
    upsert.Step();
    StoreGate(*db, name, gate);
    auto back = db->Prepare("DELETE FROM 撤下 WHERE 文件名 = ?");
    back.Bind(1, name);
    back.Step();
    AddUsage(*db, sender.key, day, {.pages = growth});
    db->Run("UPDATE 用量 SET 页面字节 = 页面字节 + $1 - $2 WHERE 编号 = 1", {bytes.size(), before});
    return StoreResult::kStored;
  });
}

std::shared_ptr<const StoredPage> SqliteStorage::LoadPage(std::string_view name) {
  Lease db = Acquire();
  auto query = db->Prepare(
      "SELECT 内容, 修改时间, 标签, EXISTS (SELECT 1 FROM admin_withheld WHERE name = ?1), "
      "IFNULL(g.opens, 0), IFNULL(g.code_hash, ''), IFNULL(g.hint, ''), 压缩, 压缩 IS NULL "
      "FROM 页面 LEFT JOIN page_gates AS g ON g.name = 文件名 WHERE 文件名 = ?1");
  query.Bind(1, name);
  if (!query.Step()) return nullptr;
  return std::make_shared<const StoredPage>(StoredPage{query.Blob(0),
                                                       query.Int(1),
                                                       query.Text(2),
                                                       {},
                                                       query.Blob(7),
                                                       query.Int(3) != 0,
                                                       {query.Int(4), query.Text(5), query.Text(6)},
                                                       query.Int(8) != 0});
}

void SqliteStorage::ForEachClaim(const std::function<void(const Claim&)>& take) {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 硬盘ID摘要, 文件名, 认领时间 FROM 免费 ORDER BY rowid");
  while (query.Step()) take({MachineIdHash(query.Text(0)), query.Text(1), query.Text(2)});
}

void SqliteStorage::ForEachPage(
    const std::function<void(const std::string& name, const StoredPage&)>& take) {
  Lease db = Acquire();
  auto query = db->Prepare(
      "SELECT 文件名, 内容, 修改时间, 标签, IFNULL(g.opens, 0), IFNULL(g.code_hash, ''), "
      "IFNULL(g.hint, '') FROM 页面 LEFT JOIN page_gates AS g ON g.name = 文件名 ORDER BY 文件名");
  while (query.Step())
    take(query.Text(0), StoredPage{query.Blob(1),
                                   query.Int(2),
                                   query.Text(3),
                                   {},
                                   {},
                                   false,
                                   {query.Int(4), query.Text(5), query.Text(6)}});
}

std::string SqliteStorage::IntegrityCheck() {
  Lease db = Acquire();
  auto query = db->Prepare("PRAGMA integrity_check");
  std::string result;
  while (query.Step()) {
    if (!result.empty()) result += '\n';
    result += query.Text(0);
  }
  return result;
}

}  // namespace heartpage::server
