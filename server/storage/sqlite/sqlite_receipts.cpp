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

namespace {

// What came back from the version bound, kept before its receipts begin
// afresh: only a version that asked something and was opened or answered.
void KeepEarlier(SqliteStorage::Connection& db, std::string_view name, std::int64_t replaced) {
  auto keep = db.Prepare(
      "INSERT INTO receipt_earlier (name, question, choice1, choice2, opened, first_opened, "
      "last_opened, replaced) SELECT name, question, choice1, choice2, opened, first_opened, "
      "last_opened, ?2 FROM receipts WHERE name = ?1 AND question <> '' AND (opened > 0 OR "
      "EXISTS (SELECT 1 FROM receipt_answers WHERE name = ?1)) RETURNING id");
  keep.Bind(1, name).Bind(2, replaced);
  if (!keep.Step()) return;
  const std::int64_t earlier = keep.Int(0);
  while (keep.Step()) {
  }
  auto answers = db.Prepare(
      "INSERT INTO receipt_earlier_answers (earlier, choice, at) "
      "SELECT ?2, choice, at FROM receipt_answers WHERE name = ?1 ORDER BY id");
  answers.Bind(1, name).Bind(2, earlier);
  answers.Step();
  auto trim = db.Prepare(
      "DELETE FROM receipt_earlier WHERE name = ?1 AND id NOT IN "
      "(SELECT id FROM receipt_earlier WHERE name = ?1 ORDER BY id DESC LIMIT ?2)");
  trim.Bind(1, name).Bind(2, static_cast<std::int64_t>(kEarlierVersionsKept));
  trim.Step();
}

// What `visitor` sent `name` in `minute`: {openings, answers}.
std::pair<std::int64_t, std::int64_t> VisitorCounts(SqliteStorage::Connection& db,
                                                    std::string_view name, std::string_view visitor,
                                                    std::int64_t minute) {
  if (visitor.empty()) return {0, 0};
  auto counts = db.Prepare(
      "SELECT opened, answers FROM receipt_visitors WHERE name = ? AND visitor = ? AND minute = ?");
  counts.Bind(1, name).Bind(2, visitor).Bind(3, minute);
  if (!counts.Step()) return {0, 0};
  return {counts.Int(0), counts.Int(1)};
}

void NoteVisitor(SqliteStorage::Connection& db, std::string_view name, std::string_view visitor,
                 std::int64_t minute, std::int64_t opened, std::int64_t answers) {
  if (visitor.empty()) return;
  auto note = db.Prepare(
      "INSERT INTO receipt_visitors (name, visitor, minute, opened, answers) "
      "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (name, visitor) DO UPDATE SET "
      "opened = CASE WHEN minute = ?3 THEN opened + ?4 ELSE ?4 END, "
      "answers = CASE WHEN minute = ?3 THEN answers + ?5 ELSE ?5 END, minute = ?3");
  note.Bind(1, name).Bind(2, visitor).Bind(3, minute).Bind(4, opened).Bind(5, answers);
  note.Step();
  // Only the minute that counts is kept of anyone.
  auto forget = db.Prepare("DELETE FROM receipt_visitors WHERE minute < ?");
  forget.Bind(1, minute);
  forget.Step();
}

}  // namespace

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
          if (found) KeepEarlier(*db, name, version.modified);
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
                                        std::string_view visitor, std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  const std::string who = visitor.empty() ? std::string() : hash_(visitor).hex();
  const std::int64_t minute = now / 60;
  // A count lost to a power cut costs little; a sync for every visitor would.
  return db->Write(
      [&] {
        const std::int64_t mine = VisitorCounts(*db, name, who, minute).first;
        if (mine >= kVisitorOpeningsPerMinute) return WhyNot(*db, name, etag);
        const std::int64_t room =
            kPageOpeningsPerMinute * (mine == 0 && !who.empty() ? kNewcomerRoom : 1);
        auto count = db->Prepare(
            "UPDATE receipts SET opened = opened + 1, "
            "first_opened = CASE WHEN first_opened = 0 THEN ?3 ELSE first_opened END, "
            "last_opened = ?3, "
            "opened_in_minute = CASE WHEN opened_minute = ?4 THEN opened_in_minute + 1 ELSE 1 END, "
            "opened_minute = ?4 "
            "WHERE name = ?1 AND (IFNULL(?2, '') = '' OR etag = ?2) AND question <> '' "
            "AND (opened_minute <> ?4 OR opened_in_minute < ?5) RETURNING 1");
        count.Bind(1, name).Bind(2, etag).Bind(3, now).Bind(4, minute).Bind(5, room);
        const bool counted = count.Step();
        while (count.Step()) {
        }
        if (!counted) return WhyNot(*db, name, etag);
        NoteVisitor(*db, name, who, minute, 1, 0);
        return VisitResult::kCounted;
      },
      /*synced=*/false);
}

VisitResult SqliteStorage::AddAnswer(std::string_view name, std::string_view etag,
                                     std::string_view visitor, int choice, std::int64_t now) {
  std::lock_guard writer(write_mutex_);
  Lease db = Acquire();
  const std::string who = visitor.empty() ? std::string() : hash_(visitor).hex();
  const std::int64_t minute = now / 60;
  return db->Write([&] {
    auto bound = db->Prepare(
        "SELECT question = '' FROM receipts WHERE name = ?1 AND (IFNULL(?2, '') = '' OR etag = "
        "?2)");
    bound.Bind(1, name).Bind(2, etag);
    if (!bound.Step()) return VisitResult::kUnbound;
    if (bound.Int(0) != 0) return VisitResult::kNoQuestion;
    const std::int64_t mine = VisitorCounts(*db, name, who, minute).second;
    if (mine >= kVisitorAnswersPerMinute) return VisitResult::kTooMany;
    // All the answers kept came within the last minute: the page's rate.
    auto recent = db->Prepare("SELECT COUNT(*) FROM receipt_answers WHERE name = ? AND at > ?");
    recent.Bind(1, name).Bind(2, now - 60);
    recent.Step();
    if (recent.Int(0) >= kPageAnswersPerMinute) {
      // Only the answers kept are there to count: beyond them, the minute's
      // answers by address.
      if (mine > 0 || who.empty()) return VisitResult::kTooMany;
      auto all = db->Prepare(
          "SELECT COALESCE(SUM(answers), 0) FROM receipt_visitors WHERE name = ? AND minute = ?");
      all.Bind(1, name).Bind(2, minute);
      all.Step();
      if (all.Int(0) >= kPageAnswersPerMinute * kNewcomerRoom) return VisitResult::kTooMany;
    }
    auto add = db->Prepare("INSERT INTO receipt_answers (name, choice, at) VALUES (?, ?, ?)");
    add.Bind(1, name).Bind(2, std::int64_t{choice}).Bind(3, now);
    add.Step();
    auto trim = db->Prepare(
        "DELETE FROM receipt_answers WHERE name = ?1 AND id NOT IN "
        "(SELECT id FROM receipt_answers WHERE name = ?1 ORDER BY id DESC LIMIT ?2)");
    trim.Bind(1, name).Bind(2, static_cast<std::int64_t>(wire::kReceiptAnswersKept));
    trim.Step();
    NoteVisitor(*db, name, who, minute, 0, 1);
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
                        row.Int(6),  {},
                        {}};
  auto answers = db->Prepare("SELECT choice, at FROM receipt_answers WHERE name = ? ORDER BY id");
  answers.Bind(1, name);
  while (answers.Step())
    receipts.answers.push_back({static_cast<int>(answers.Int(0)), answers.Int(1)});
  auto earlier = db->Prepare(
      "SELECT id, question, choice1, choice2, opened, first_opened, last_opened, replaced "
      "FROM receipt_earlier WHERE name = ? ORDER BY id DESC");
  earlier.Bind(1, name);
  while (earlier.Step()) {
    EarlierReceipts version{{earlier.Text(1), {earlier.Text(2), earlier.Text(3)}},
                            earlier.Int(4),
                            earlier.Int(5),
                            earlier.Int(6),
                            earlier.Int(7),
                            {}};
    auto its =
        db->Prepare("SELECT choice, at FROM receipt_earlier_answers WHERE earlier = ? ORDER BY id");
    its.Bind(1, earlier.Int(0));
    while (its.Step()) version.answers.push_back({static_cast<int>(its.Int(0)), its.Int(1)});
    receipts.earlier.push_back(std::move(version));
  }
  return receipts;
}

}  // namespace heartpage::server
