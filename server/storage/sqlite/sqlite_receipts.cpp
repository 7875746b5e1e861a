// What came back from published pages, in SQLite: a row per page bound to
// one version of it, and its last answers.
#include "server/storage/sqlite/sqlite_connection.h"
#include "server/storage/sqlite/sqlite_storage.h"

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
)sql");
}

void SqliteStorage::BindQuestion(std::string_view name, const PageVersion& version,
                                 const PageQuestion& question) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  // Bound again from the page whenever lost: no sync of its own.
  db->Write(
      [&] {
        auto claimed = db->Prepare("SELECT 1 FROM 免费 WHERE 文件名 = ?");
        claimed.Bind(1, name);
        if (!claimed.Step()) return 0;
        auto bound = db->Prepare(
            "SELECT modified, etag, question, choice1, choice2 FROM receipts WHERE name = ?");
        bound.Bind(1, name);
        const bool found = bound.Step();
        if (found && (bound.Int(0) > version.modified || bound.Text(1) == version.etag)) return 0;
        const bool same =
            found && PageQuestion{bound.Text(2), {bound.Text(3), bound.Text(4)}} == question;
        if (!same) {
          auto forget = db->Prepare("DELETE FROM receipt_answers WHERE name = ?");
          forget.Bind(1, name);
          forget.Step();
        }
        auto bind = db->Prepare(
            "INSERT INTO receipts (name, modified, etag, question, choice1, choice2) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (name) DO UPDATE SET "
            "modified = ?2, etag = ?3, question = ?4, choice1 = ?5, choice2 = ?6, "
            "opened = CASE WHEN ?7 THEN opened ELSE 0 END, "
            "first_opened = CASE WHEN ?7 THEN first_opened ELSE 0 END, "
            "last_opened = CASE WHEN ?7 THEN last_opened ELSE 0 END");
        bind.Bind(1, name)
            .Bind(2, version.modified)
            .Bind(3, version.etag)
            .Bind(4, question.text)
            .Bind(5, question.choices[0])
            .Bind(6, question.choices[1])
            .Bind(7, std::int64_t{same});
        bind.Step();
        return 0;
      },
      /*synced=*/false);
}

namespace {

// Why a visit was not counted, once the statement that counts it changed
// nothing.
VisitResult WhyNot(SqliteStorage::Connection& db, std::string_view name, std::string_view etag) {
  auto bound = db.Prepare(
      "SELECT question = '' FROM receipts WHERE name = ?1 AND (IFNULL(?2, '') = '' OR etag = ?2)");
  bound.Bind(1, name).Bind(2, etag);
  if (!bound.Step()) return VisitResult::kUnbound;
  return bound.Int(0) != 0 ? VisitResult::kNoQuestion : VisitResult::kTooMany;
}

}  // namespace

VisitResult SqliteStorage::CountOpening(std::string_view name, std::string_view etag,
                                        std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  // A count lost to a power cut costs little; a sync for every visitor would.
  return db->Write(
      [&] {
        auto count = db->Prepare(
            "UPDATE receipts SET opened = opened + 1, "
            "first_opened = CASE WHEN first_opened = 0 THEN ?3 ELSE first_opened END, "
            "last_opened = ?3, "
            "opened_in_minute = CASE WHEN opened_minute = ?4 THEN opened_in_minute + 1 ELSE 1 END, "
            "opened_minute = ?4 "
            "WHERE name = ?1 AND (IFNULL(?2, '') = '' OR etag = ?2) AND question <> '' "
            "AND (opened_minute <> ?4 OR opened_in_minute < ?5) RETURNING 1");
        count.Bind(1, name)
            .Bind(2, etag)
            .Bind(3, now)
            .Bind(4, now / 60)
            .Bind(5, kPageOpeningsPerMinute);
        const bool counted = count.Step();
        while (count.Step()) {
        }
        return counted ? VisitResult::kCounted : WhyNot(*db, name, etag);
      },
      /*synced=*/false);
}

VisitResult SqliteStorage::AddAnswer(std::string_view name, std::string_view etag, int choice,
                                     std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  return db->Write([&] {
    auto bound = db->Prepare(
        "SELECT question = '' FROM receipts WHERE name = ?1 AND (IFNULL(?2, '') = '' OR etag = "
        "?2)");
    bound.Bind(1, name).Bind(2, etag);
    if (!bound.Step()) return VisitResult::kUnbound;
    if (bound.Int(0) != 0) return VisitResult::kNoQuestion;
    // All the answers kept came within the last minute: the page's rate.
    auto recent = db->Prepare("SELECT COUNT(*) FROM receipt_answers WHERE name = ? AND at > ?");
    recent.Bind(1, name).Bind(2, now - 60);
    recent.Step();
    if (recent.Int(0) >= kPageAnswersPerMinute) return VisitResult::kTooMany;
    auto add = db->Prepare("INSERT INTO receipt_answers (name, choice, at) VALUES (?, ?, ?)");
    add.Bind(1, name).Bind(2, std::int64_t{choice}).Bind(3, now);
    add.Step();
    auto trim = db->Prepare(
        "DELETE FROM receipt_answers WHERE name = ?1 AND id NOT IN "
        "(SELECT id FROM receipt_answers WHERE name = ?1 ORDER BY id DESC LIMIT ?2)");
    trim.Bind(1, name).Bind(2, static_cast<std::int64_t>(wire::kReceiptAnswersKept));
    trim.Step();
    return VisitResult::kCounted;
  });
}

std::optional<PageReceipts> SqliteStorage::LoadReceipts(std::string_view name) {
  Lease db = Acquire();
  auto row = db->Prepare(
      "SELECT etag, question, choice1, choice2, opened, first_opened, last_opened "
      "FROM receipts WHERE name = ?");
  row.Bind(1, name);
  if (!row.Step()) return std::nullopt;
  PageReceipts receipts{row.Text(0), {row.Text(1), {row.Text(2), row.Text(3)}},
                        row.Int(4),  row.Int(5),
                        row.Int(6),  {}};
  auto answers = db->Prepare("SELECT choice, at FROM receipt_answers WHERE name = ? ORDER BY id");
  answers.Bind(1, name);
  while (answers.Step())
    receipts.answers.push_back({static_cast<int>(answers.Int(0)), answers.Int(1)});
  return receipts;
}

}  // namespace heartpage::server
