#include "server/sqlite_storage.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <map>

namespace heartpage::server {
namespace {

constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 10000;

// Column order of 免费 is what "select *" answers: 硬盘ID, 文件名, claim time.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS 系统设置 (
  编号 INTEGER PRIMARY KEY CHECK (编号 = 1),
  公告 TEXT,
  版本号 TEXT,
  下载地址 TEXT
);
INSERT OR IGNORE INTO 系统设置 (编号) VALUES (1);
CREATE TABLE IF NOT EXISTS 免费 (
  硬盘ID TEXT NOT NULL,
  文件名 TEXT NOT NULL UNIQUE,
  认领时间 TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS 免费_硬盘ID ON 免费 (硬盘ID);
CREATE TABLE IF NOT EXISTS 页面 (
  文件名 TEXT PRIMARY KEY,
  内容 BLOB NOT NULL,
  修改时间 INTEGER NOT NULL,
  标签 TEXT NOT NULL
);
)sql";

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string EtagOf(std::string_view bytes) {
  char text[40];
  std::snprintf(text, sizeof text, "\"%zx-%zx\"", bytes.size(),
                std::hash<std::string_view>{}(bytes));
  return text;
}

}  // namespace

// One open database handle with its prepared statements.
class SqliteStorage::Connection {
 public:
  explicit Connection(const std::filesystem::path& file) {
    const int rc =
        sqlite3_open_v2(file.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      throw StorageError("cannot open " + file.string() + ": " + why);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // FULL: the WAL is synced at every commit, so an acknowledged store is on
    // disk even if the machine, not only the process, goes down.
    try {
      Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
    } catch (const StorageError&) {
      sqlite3_close(db_);  // no destructor runs for a constructor that throws
      throw;
    }
  }
  ~Connection() {
    for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
      const std::string why = message != nullptr ? message : sqlite3_errmsg(db_);
      sqlite3_free(message);
      throw StorageError(why);
    }
  }

  // A prepared statement, reset and with its bindings cleared when the
  // returned handle goes out of scope.
  class Query {
   public:
    Query(Connection& connection, sqlite3_stmt* statement)
        : connection_(connection), statement_(statement) {}
    ~Query() {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, std::string_view text) {
      Check(sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                              SQLITE_STATIC));
      return *this;
    }
    Query& BindBlob(int index, std::string_view bytes) {
      Check(sqlite3_bind_blob64(statement_, index, bytes.data(), bytes.size(), SQLITE_STATIC));
      return *this;
    }
    Query& Bind(int index, std::int64_t number) {
      Check(sqlite3_bind_int64(statement_, index, number));
      return *this;
    }
    Query& BindOptional(int index, const std::optional<std::string>& text) {
      if (text) return Bind(index, *text);
      Check(sqlite3_bind_null(statement_, index));
      return *this;
    }
    // True while there is a row; throws on errors, SQLITE_CONSTRAINT included.
    bool Step() {
      const int rc = sqlite3_step(statement_);
      if (rc == SQLITE_ROW) return true;
      if (rc == SQLITE_DONE) return false;
      throw StorageError(sqlite3_errmsg(connection_.db_));
    }
    std::string Text(int column) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
      return text == nullptr ? std::string()
                             : std::string(text, sqlite3_column_bytes(statement_, column));
    }
    std::optional<std::string> OptionalText(int column) {
      if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
      return Text(column);
    }
    std::string Blob(int column) {
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
      return bytes == nullptr ? std::string()
                              : std::string(bytes, sqlite3_column_bytes(statement_, column));
    }
    std::int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }

   private:
    void Check(int rc) {
      if (rc != SQLITE_OK) throw StorageError(sqlite3_errmsg(connection_.db_));
    }
    Connection& connection_;
    sqlite3_stmt* statement_;
  };

  Query Prepare(const char* sql) {
    auto [it, inserted] = statements_.try_emplace(sql, nullptr);
    if (inserted) {
      if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &it->second, nullptr) !=
          SQLITE_OK) {
        statements_.erase(it);
        throw StorageError(sqlite3_errmsg(db_));
      }
    }
    return Query(*this, it->second);
  }

  // Runs `work` in a write transaction taken up front (BEGIN IMMEDIATE), so
  // two writers never both read and then fail to upgrade their lock.
  //
  // A commit that need not reach the disk by itself (`synced` false) is
  // written to the WAL without syncing it; it survives a crash of the process
  // all the same, and the next synced commit makes it durable with its own,
  // since the WAL is synced as a whole.
  template <typename Work>
  auto Write(Work&& work, bool synced = true) {
    if (!synced) Exec("PRAGMA synchronous=NORMAL");
    Exec("BEGIN IMMEDIATE");
    try {
      auto result = work();
      Exec("COMMIT");
      if (!synced) Exec("PRAGMA synchronous=FULL");
      return result;
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      if (!synced) sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
      throw;
    }
  }

 private:
  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
};

// Returns its connection to the pool when done; a connection whose work threw
// is returned too, since every failure path above leaves it idle.
class SqliteStorage::Lease {
 public:
  Lease(SqliteStorage& owner, std::unique_ptr<Connection> connection)
      : owner_(owner), connection_(std::move(connection)) {}
  ~Lease() {
    if (connection_) owner_.Release(std::move(connection_));
  }
  Lease(Lease&&) = default;
  Connection* operator->() { return connection_.get(); }

 private:
  SqliteStorage& owner_;
  std::unique_ptr<Connection> connection_;
};

SqliteStorage::SqliteStorage(std::filesystem::path file) : file_(std::move(file)) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  db->Write([&] {
    db->Exec(kSchema);
    auto version = db->Prepare("PRAGMA user_version");
    version.Step();
    const std::int64_t found = version.Int(0);
    if (found > kSchemaVersion)
      throw StorageError(file_.string() + " was written by a newer heartpage-server");
    return 0;
  });
  db->Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
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
  return Lease(*this, std::make_unique<Connection>(file_));
}

void SqliteStorage::Release(std::unique_ptr<Connection> connection) {
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(connection));
}

SiteSettings SqliteStorage::LoadSettings() {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 公告, 版本号, 下载地址 FROM 系统设置 WHERE 编号 = 1");
  SiteSettings settings;
  if (query.Step()) {
    settings.announcement = query.OptionalText(0);
    settings.version_label = query.OptionalText(1);
    settings.download_url = query.OptionalText(2);
  }
  return settings;
}

void SqliteStorage::UpdateSettings(const SiteSettings& changes) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  db->Write([&] {
    auto update = db->Prepare(
        "UPDATE 系统设置 SET 公告 = IFNULL(?1, 公告), 版本号 = IFNULL(?2, 版本号), "
        "下载地址 = IFNULL(?3, 下载地址) WHERE 编号 = 1");
    update.BindOptional(1, changes.announcement)
        .BindOptional(2, changes.version_label)
        .BindOptional(3, changes.download_url);
    update.Step();
    return 0;
  });
}

namespace {

template <typename Query>
std::vector<Claim> ReadClaims(Query& query) {
  std::vector<Claim> claims;
  while (query.Step()) claims.push_back({query.Text(0), query.Text(1), query.Text(2)});
  return claims;
}

}  // namespace

std::vector<Claim> SqliteStorage::ClaimsOfMachine(std::string_view machine_id) {
  Lease db = Acquire();
  auto query =
      db->Prepare("SELECT 硬盘ID, 文件名, 认领时间 FROM 免费 WHERE 硬盘ID = ? ORDER BY rowid");
  query.Bind(1, machine_id);
  return ReadClaims(query);
}

std::vector<Claim> SqliteStorage::ClaimsOfName(std::string_view name) {
  Lease db = Acquire();
  auto query =
      db->Prepare("SELECT 硬盘ID, 文件名, 认领时间 FROM 免费 WHERE 文件名 = ? ORDER BY rowid");
  query.Bind(1, name);
  return ReadClaims(query);
}

ClaimResult SqliteStorage::ClaimName(std::string_view machine_id, std::string_view name) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write(
      [&] {
        // Checked inside the write transaction, so no other claim can slip in
        // between; the UNIQUE constraint stays as the last line of defence.
        auto taken = db->Prepare("SELECT 1 FROM 免费 WHERE 文件名 = ?");
        taken.Bind(1, name);
        if (taken.Step()) return ClaimResult::kTaken;
        auto insert = db->Prepare("INSERT INTO 免费 (硬盘ID, 文件名, 认领时间) VALUES (?, ?, ?)");
        const std::string now = UtcNow();
        insert.Bind(1, machine_id).Bind(2, name).Bind(3, now);
        insert.Step();
        return ClaimResult::kClaimed;
        // A claim is always followed by the store of its page, whose synced
        // commit carries the claim to the disk too: one disk sync per publish.
      },
      /*synced=*/false);
}

StoreResult SqliteStorage::StorePage(std::string_view name, std::string_view bytes) {
  const std::string etag = EtagOf(bytes);
  const std::int64_t now = std::time(nullptr);
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto claimed = db->Prepare("SELECT 1 FROM 免费 WHERE 文件名 = ?");
    claimed.Bind(1, name);
    if (!claimed.Step()) return StoreResult::kUnclaimed;
    auto upsert = db->Prepare(
        "INSERT INTO 页面 (文件名, 内容, 修改时间, 标签) VALUES (?1, ?2, ?3, ?4) "
        "ON CONFLICT (文件名) DO UPDATE SET 内容 = ?2, 修改时间 = ?3, 标签 = ?4");
    upsert.Bind(1, name).BindBlob(2, bytes).Bind(3, now).Bind(4, etag);
    upsert.Step();
    return StoreResult::kStored;
  });
}

std::shared_ptr<const StoredPage> SqliteStorage::LoadPage(std::string_view name) {
  Lease db = Acquire();
  auto query = db->Prepare("SELECT 内容, 修改时间, 标签 FROM 页面 WHERE 文件名 = ?");
  query.Bind(1, name);
  if (!query.Step()) return nullptr;
  return std::make_shared<const StoredPage>(
      StoredPage{query.Blob(0), query.Int(1), query.Text(2), {}});
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
