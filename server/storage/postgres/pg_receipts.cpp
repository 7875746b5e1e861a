// What came back from published pages, in PostgreSQL, in the tables of
// their own migration. The page's rates are counted in the database, so that
// they hold for all the servers sharing it together.
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {

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
        if (!same) db->Run("DELETE FROM receipt_answers WHERE name = $1", {name});
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
                                          std::int64_t now) {
  Hasher();
  Lease db = Acquire();
  // A count lost to a crash of the database costs little; a sync for every
  // visitor would.
  return db->Transaction(
      [&] {
        const PgResult counted = db->Run(
            "UPDATE receipts SET opened = opened + 1, "
            "first_opened = CASE WHEN first_opened = 0 THEN $3::bigint ELSE first_opened END, "
            "last_opened = $3::bigint, "
            "opened_in_minute = CASE WHEN opened_minute = $4::bigint "
            "THEN opened_in_minute + 1 ELSE 1 END, "
            "opened_minute = $4::bigint "
            "WHERE name = $1 AND (COALESCE($2, '') = '' OR etag = $2) AND question <> '' "
            "AND (opened_minute <> $4::bigint OR opened_in_minute < $5::bigint) RETURNING 1",
            {name, etag, std::to_string(now), std::to_string(now / 60),
             std::to_string(kPageOpeningsPerMinute)});
        return counted.Rows() > 0 ? VisitResult::kCounted : WhyNot(*db, name, etag);
      },
      /*synced=*/false);
}

VisitResult PostgresStorage::AddAnswer(std::string_view name, std::string_view etag, int choice,
                                       std::int64_t now) {
  Hasher();
  Lease db = Acquire();
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
    const PgResult recent =
        db->Run("SELECT count(*) FROM receipt_answers WHERE name = $1 AND at > $2::bigint",
                {name, std::to_string(now - 60)});
    if (recent.Int(0, 0) >= kPageAnswersPerMinute) return VisitResult::kTooMany;
    db->Run("INSERT INTO receipt_answers (name, choice, at) VALUES ($1, $2::integer, $3::bigint)",
            {name, std::to_string(choice), std::to_string(now)});
    db->Run(
        "DELETE FROM receipt_answers WHERE name = $1 AND id NOT IN "
        "(SELECT id FROM receipt_answers WHERE name = $1 ORDER BY id DESC LIMIT $2::bigint)",
        {name, std::to_string(wire::kReceiptAnswersKept)});
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
      {}};
  const PgResult answers =
      db->Run("SELECT choice, at FROM receipt_answers WHERE name = $1 ORDER BY id", {name});
  for (int i = 0; i < answers.Rows(); ++i)
    receipts.answers.push_back({static_cast<int>(answers.Int(i, 0)), answers.Int(i, 1)});
  return receipts;
}

}  // namespace heartpage::server
