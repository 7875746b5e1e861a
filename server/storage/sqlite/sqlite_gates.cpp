// The pages' gates and the tries at their codes, in SQLite: a row beside a
// page that opens later or to a code, going with the page however it goes.
#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {

void AddGateTables(SqliteStorage::Connection& db) {
  db.Exec(R"sql(
CREATE TABLE IF NOT EXISTS page_gates (
  name TEXT PRIMARY KEY,
  opens INTEGER NOT NULL,
  code_hash TEXT NOT NULL,
  hint TEXT NOT NULL
);
CREATE TRIGGER IF NOT EXISTS page_gates_go_with_page AFTER DELETE ON 页面 BEGIN
  DELETE FROM page_gates WHERE name = OLD.文件名;
END;
CREATE TABLE IF NOT EXISTS unlock_tries (
  name TEXT NOT NULL,
  visitor TEXT NOT NULL,
  since INTEGER NOT NULL,
  tries INTEGER NOT NULL,
  PRIMARY KEY (name, visitor)
);
CREATE INDEX IF NOT EXISTS unlock_tries_since ON unlock_tries (since);
)sql");
}

void StoreGate(SqliteStorage::Connection& db, std::string_view name, const PageGate& gate) {
  auto forget = db.Prepare("DELETE FROM page_gates WHERE name = ?");
  forget.Bind(1, name);
  forget.Step();
  if (gate.empty()) return;
  auto keep =
      db.Prepare("INSERT INTO page_gates (name, opens, code_hash, hint) VALUES (?, ?, ?, ?)");
  keep.Bind(1, name).Bind(2, gate.opens).Bind(3, gate.code_hash).Bind(4, gate.hint);
  keep.Step();
}

namespace {

UnlockTries TriesOf(SqliteStorage::Connection& db, std::string_view name,
                    std::string_view visitor) {
  auto row = db.Prepare("SELECT since, tries FROM unlock_tries WHERE name = ? AND visitor = ?");
  row.Bind(1, name).Bind(2, visitor);
  if (!row.Step()) return {};
  return {row.Int(0), row.Int(1)};
}

void KeepTries(SqliteStorage::Connection& db, std::string_view name, std::string_view visitor,
               const UnlockTries& tries) {
  auto keep = db.Prepare(
      "INSERT INTO unlock_tries (name, visitor, since, tries) VALUES (?1, ?2, ?3, ?4) "
      "ON CONFLICT (name, visitor) DO UPDATE SET since = ?3, tries = ?4");
  keep.Bind(1, name).Bind(2, visitor).Bind(3, tries.since).Bind(4, tries.tries);
  keep.Step();
}

}  // namespace

UnlockVerdict SqliteStorage::TakeUnlockTry(std::string_view name, std::string_view visitor,
                                           std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  // The page's own window is the row of no visitor; a hashed address is
  // never empty.
  const std::string who = visitor.empty() ? std::string() : hash_(visitor).hex();
  return db->Write(
      [&] {
        // Windows past their end say nothing any more.
        auto forget = db->Prepare("DELETE FROM unlock_tries WHERE since <= ?");
        forget.Bind(1, now - kUnlockWindowSeconds);
        forget.Step();
        const UnlockVerdict verdict =
            DecideUnlockTry(who.empty() ? UnlockTries{} : TriesOf(*db, name, who),
                            TriesOf(*db, name, ""), !who.empty(), now);
        if (verdict.allowed) {
          if (!who.empty()) KeepTries(*db, name, who, verdict.address);
          KeepTries(*db, name, "", verdict.page);
        }
        return verdict;
      },
      /*synced=*/false);
}

}  // namespace heartpage::server
