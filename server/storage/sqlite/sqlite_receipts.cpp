// The tables of what came back from published pages, in SQLite.
#include "server/storage/sqlite/sqlite_connection.h"

namespace heartpage::server {

void AddReceiptTables(SqliteStorage::Connection& db) {
  // A trigger rather than the release's own statements: however a claim
  // goes, what its page's visitors sent goes with it, and never reaches
  // whoever claims the name next.
  db.Exec(R"sql(
CREATE TABLE IF NOT EXISTS receipts (
  name TEXT PRIMARY KEY,
  modified INTEGER NOT NULL,
  etag TEXT NOT NULL,
  question TEXT NOT NULL,
  choice1 TEXT NOT NULL,
  choice2 TEXT NOT NULL,
  opened INTEGER NOT NULL DEFAULT 0,
  first_opened INTEGER NOT NULL DEFAULT 0,
  last_opened INTEGER NOT NULL DEFAULT 0,
  opened_minute INTEGER NOT NULL DEFAULT 0,
  opened_in_minute INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS receipt_answers (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  choice INTEGER NOT NULL CHECK (choice IN (1, 2)),
  at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS receipt_answers_name ON receipt_answers (name, id);
CREATE TRIGGER IF NOT EXISTS receipts_go_with_claim AFTER DELETE ON 免费 BEGIN
  DELETE FROM receipt_answers WHERE name = OLD.文件名;
  DELETE FROM receipts WHERE name = OLD.文件名;
END;
CREATE TABLE IF NOT EXISTS receipt_earlier (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  question TEXT NOT NULL,
  choice1 TEXT NOT NULL,
  choice2 TEXT NOT NULL,
  opened INTEGER NOT NULL,
  first_opened INTEGER NOT NULL,
  last_opened INTEGER NOT NULL,
  replaced INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS receipt_earlier_name ON receipt_earlier (name, id);
CREATE TABLE IF NOT EXISTS receipt_earlier_answers (
  id INTEGER PRIMARY KEY,
  earlier INTEGER NOT NULL,
  choice INTEGER NOT NULL CHECK (choice IN (1, 2)),
  at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS receipt_earlier_answers_of ON receipt_earlier_answers (earlier, id);
CREATE TRIGGER IF NOT EXISTS receipt_earlier_answers_go_with_it AFTER DELETE ON receipt_earlier
BEGIN
  DELETE FROM receipt_earlier_answers WHERE earlier = OLD.id;
END;
CREATE TABLE IF NOT EXISTS receipt_visitors (
  name TEXT NOT NULL,
  visitor TEXT NOT NULL,
  minute INTEGER NOT NULL,
  opened INTEGER NOT NULL DEFAULT 0,
  answers INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (name, visitor)
);
CREATE INDEX IF NOT EXISTS receipt_visitors_minute ON receipt_visitors (minute);
CREATE TRIGGER IF NOT EXISTS receipt_history_goes_with_claim AFTER DELETE ON 免费 BEGIN
  DELETE FROM receipt_earlier WHERE name = OLD.文件名;
  DELETE FROM receipt_visitors WHERE name = OLD.文件名;
END;
)sql");
}

}  // namespace heartpage::server
