// What came back from published pages, in PostgreSQL, in the tables of
// their own migration. The page's rates are counted in the database, so that
// they hold for all the servers sharing it together.
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {
namespace {

// What came back from the version bound, kept before its receipts begin
// afresh: only a version that asked something and was opened or answered.
void KeepEarlier(PgConnection& db, std::string_view name, const std::string& replaced) {
  const PgResult kept = db.Run(
      "INSERT INTO receipt_earlier (name, question, choice1, choice2, opened, first_opened, "
      "last_opened, replaced) SELECT name, question, choice1, choice2, opened, first_opened, "
      "last_opened, $2::bigint FROM receipts WHERE name = $1 AND question <> '' AND (opened > 0 "
      "OR EXISTS (SELECT 1 FROM receipt_answers WHERE name = $1)) RETURNING id",
      {name, replaced});
  if (kept.Rows() == 0) return;
  db.Run(
      "INSERT INTO receipt_earlier_answers (earlier, choice, at) "
      "SELECT $2::bigint, choice, at FROM receipt_answers WHERE name = $1 ORDER BY id",
      {name, std::string(kept.Get(0, 0))});
  db.Run(
      "DELETE FROM receipt_earlier WHERE name = $1 AND id NOT IN "
      "(SELECT id FROM receipt_earlier WHERE name = $1 ORDER BY id DESC LIMIT $2::bigint)",
      {name, std::to_string(kEarlierVersionsKept)});
}

// What `visitor` sent `name` in `minute`: {openings, answers}.
std::pair<std::int64_t, std::int64_t> VisitorCounts(PgConnection& db, std::string_view name,
                                                    std::string_view visitor,
                                                    const std::string& minute) {
  if (visitor.empty()) return {0, 0};
  const PgResult counts = db.Run(
      "SELECT opened, answers FROM receipt_visitors WHERE name = $1 AND visitor = $2 AND "
      "minute = $3::bigint",
      {name, visitor, minute});
  if (counts.Rows() == 0) return {0, 0};
  return {counts.Int(0, 0), counts.Int(0, 1)};
}

void NoteVisitor(PgConnection& db, std::string_view name, std::string_view visitor,
                 const std::string& minute, std::string_view opened, std::string_view answers) {
  if (visitor.empty()) return;
  db.Run(
      "INSERT INTO receipt_visitors AS v (name, visitor, minute, opened, answers) "
      "VALUES ($1, $2, $3::bigint, $4::bigint, $5::bigint) ON CONFLICT (name, visitor) DO UPDATE "
      "SET opened = CASE WHEN v.minute = $3::bigint THEN v.opened + $4::bigint ELSE $4::bigint "
      "END, "
      "answers = CASE WHEN v.minute = $3::bigint THEN v.answers + $5::bigint ELSE $5::bigint END, "
      "minute = $3::bigint",
      {name, visitor, minute, opened, answers});
  // Only the minute that counts is kept of anyone.
  db.Run("DELETE FROM receipt_visitors WHERE minute < $1::bigint", {minute});
}

}  // namespace

void PostgresStorage::BindQuestion(std::string_view name, const PageVersion& version,
                                   const PageQuestion& question) {
  Hasher();
  Lease db = Acquire();
  const std::string modified = std::to_string(version.modified);
  // Bound again from the page whenever lost: no sync of its own.
  db->Transaction(
      [&] {
        const PgResult added = db->Run(
            "INSERT INTO receipts (name, modified, etag, question, choice1, choice2) "
            "SELECT $1, $2::bigint, $3, $4, $5, $6 WHERE EXISTS "
            "(SELECT 1 FROM 免费 WHERE 文件名 = $1) "
            "ON CONFLICT (name) DO NOTHING RETURNING 1",
            {name, modified, version.etag, question.text, question.choices[0],
             question.choices[1]});
        if (added.Rows() > 0) return 0;
        const PgResult bound = db->Run(
            "SELECT modified, etag, question, choice1, choice2 FROM receipts WHERE name = $1 "
            "FOR UPDATE",
            {name});
        if (bound.Rows() == 0 || bound.Int(0, 0) > version.modified ||
            bound.Get(0, 1) == version.etag)
          return 0;
        const bool same =
            PageQuestion{std::string(bound.Get(0, 2)),
                         {std::string(bound.Get(0, 3)), std::string(bound.Get(0, 4))}} == question;
        if (!same) {
          KeepEarlier(*db, name, modified);
          db->Run("DELETE FROM receipt_answers WHERE name = $1", {name});
        }
        db->Run(
            "UPDATE receipts SET modified = $2::bigint, etag = $3, question = $4, choice1 = $5, "
            "choice2 = $6, opened = CASE WHEN $7::boolean THEN opened ELSE 0 END, "
            "first_opened = CASE WHEN $7::boolean THEN first_opened ELSE 0 END, "
            "last_opened = CASE WHEN $7::boolean THEN last_opened ELSE 0 END WHERE name = $1",
            {name, modified, version.etag, question.text, question.choices[0], question.choices[1],
             same ? "true" : "false"});
        return 0;
      },
      /*synced=*/false);
}

namespace {

// Why a visit was not counted, once the statement that counts it changed
// nothing.
VisitResult WhyNot(PgConnection& db, std::string_view name, std::string_view etag) {
  const PgResult bound = db.Run(
      "SELECT question = '' FROM receipts WHERE name = $1 AND (COALESCE($2, '') = '' OR etag = $2)",
      {name, etag});
  if (bound.Rows() == 0) return VisitResult::kUnbound;
  return bound.Get(0, 0) == "t" ? VisitResult::kNoQuestion : VisitResult::kTooMany;
}

}  // namespace

VisitResult PostgresStorage::CountOpening(std::string_view name, std::string_view etag,
                                          std::string_view visitor, std::int64_t now) {
  const MachineIdHasher& hash = Hasher();
  const std::string who = visitor.empty() ? std::string() : hash(visitor).hex();
  Lease db = Acquire();
  const std::string minute = std::to_string(now / 60);
  // A count lost to a crash of the database costs little; a sync for every
  // visitor would.
  return db->Transaction(
      [&] {
        const std::int64_t mine = VisitorCounts(*db, name, who, minute).first;
        if (mine >= kVisitorOpeningsPerMinute) return WhyNot(*db, name, etag);
        const std::int64_t room =
            kPageOpeningsPerMinute * (mine == 0 && !who.empty() ? kNewcomerRoom : 1);
        const PgResult counted = db->Run(
            "UPDATE receipts SET opened = opened + 1, "
            "first_opened = CASE WHEN first_opened = 0 THEN $3::bigint ELSE first_opened END, "
            "last_opened = $3::bigint, "
            "opened_in_minute = CASE WHEN opened_minute = $4::bigint "
            "THEN opened_in_minute + 1 ELSE 1 END, "
            "opened_minute = $4::bigint "
            "WHERE name = $1 AND (COALESCE($2, '') = '' OR etag = $2) AND question <> '' "
            "AND (opened_minute <> $4::bigint OR opened_in_minute < $5::bigint) RETURNING 1",
            {name, etag, std::to_string(now), minute, std::to_string(room)});
        if (counted.Rows() == 0) return WhyNot(*db, name, etag);
        NoteVisitor(*db, name, who, minute, "1", "0");
        return VisitResult::kCounted;
      },
      /*synced=*/false);
}

VisitResult PostgresStorage::AddAnswer(std::string_view name, std::string_view etag,
                                       std::string_view visitor, int choice, std::int64_t now) {
  const MachineIdHasher& hash = Hasher();
  const std::string who = visitor.empty() ? std::string() : hash(visitor).hex();
  Lease db = Acquire();
  const std::string minute = std::to_string(now / 60);
  return db->Transaction([&] {
    // The row's lock puts the answers of one page in a line, across servers,
    // so that the rate and the trim see every answer before theirs.
    const PgResult bound = db->Run(
        "SELECT question = '' FROM receipts WHERE name = $1 AND (COALESCE($2, '') = '' OR etag = "
        "$2) "
        "FOR UPDATE",
        {name, etag});
    if (bound.Rows() == 0) return VisitResult::kUnbound;
    if (bound.Get(0, 0) == "t") return VisitResult::kNoQuestion;
    const std::int64_t mine = VisitorCounts(*db, name, who, minute).second;
    if (mine >= kVisitorAnswersPerMinute) return VisitResult::kTooMany;
    const PgResult recent =
        db->Run("SELECT count(*) FROM receipt_answers WHERE name = $1 AND at > $2::bigint",
                {name, std::to_string(now - 60)});
    if (recent.Int(0, 0) >= kPageAnswersPerMinute) {
      // Only the answers kept are there to count: beyond them, the minute's
      // answers by address.
      if (mine > 0 || who.empty()) return VisitResult::kTooMany;
      const PgResult all = db->Run(
          "SELECT COALESCE(SUM(answers), 0) FROM receipt_visitors WHERE name = $1 AND "
          "minute = $2::bigint",
          {name, minute});
      if (all.Int(0, 0) >= kPageAnswersPerMinute * kNewcomerRoom) return VisitResult::kTooMany;
    }
    db->Run("INSERT INTO receipt_answers (name, choice, at) VALUES ($1, $2::integer, $3::bigint)",
            {name, std::to_string(choice), std::to_string(now)});
    db->Run(
        "DELETE FROM receipt_answers WHERE name = $1 AND id NOT IN "
        "(SELECT id FROM receipt_answers WHERE name = $1 ORDER BY id DESC LIMIT $2::bigint)",
        {name, std::to_string(wire::kReceiptAnswersKept)});
    NoteVisitor(*db, name, who, minute, "0", "1");
    return VisitResult::kCounted;
  });
}

std::optional<PageReceipts> PostgresStorage::LoadReceipts(std::string_view name) {
  Hasher();
  Lease db = Acquire();
  const PgResult row = db->Run(
      "SELECT etag, question, choice1, choice2, opened, first_opened, last_opened "
      "FROM receipts WHERE name = $1",
      {name});
  if (row.Rows() == 0) return std::nullopt;
  PageReceipts receipts{
      std::string(row.Get(0, 0)),
      {std::string(row.Get(0, 1)), {std::string(row.Get(0, 2)), std::string(row.Get(0, 3))}},
      row.Int(0, 4),
      row.Int(0, 5),
      row.Int(0, 6),
      {},
      {}};
  const PgResult answers =
      db->Run("SELECT choice, at FROM receipt_answers WHERE name = $1 ORDER BY id", {name});
  for (int i = 0; i < answers.Rows(); ++i)
    receipts.answers.push_back({static_cast<int>(answers.Int(i, 0)), answers.Int(i, 1)});
  const PgResult earlier = db->Run(
      "SELECT id, question, choice1, choice2, opened, first_opened, last_opened, replaced "
      "FROM receipt_earlier WHERE name = $1 ORDER BY id DESC",
      {name});
  const PgResult earlier_answers = db->Run(
      "SELECT a.earlier, a.choice, a.at FROM receipt_earlier_answers a JOIN receipt_earlier e "
      "ON e.id = a.earlier WHERE e.name = $1 ORDER BY a.id",
      {name});
  for (int i = 0; i < earlier.Rows(); ++i) {
    EarlierReceipts version{{std::string(earlier.Get(i, 1)),
                             {std::string(earlier.Get(i, 2)), std::string(earlier.Get(i, 3))}},
                            earlier.Int(i, 4),
                            earlier.Int(i, 5),
                            earlier.Int(i, 6),
                            earlier.Int(i, 7),
                            {}};
    for (int j = 0; j < earlier_answers.Rows(); ++j)
      if (earlier_answers.Get(j, 0) == earlier.Get(i, 0))
        version.answers.push_back(
            {static_cast<int>(earlier_answers.Int(j, 1)), earlier_answers.Int(j, 2)});
    receipts.earlier.push_back(std::move(version));
  }
  return receipts;
}

}  // namespace heartpage::server
