// The pages' gates in SQLite, and the table of the tries at their codes: a
// row beside a page that opens later or to a code, going with the page
// however it goes.
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

}  // namespace heartpage::server
