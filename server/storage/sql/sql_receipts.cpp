// What came back from published pages: a row per page bound to one version
// of it, and its first answers. The page's rates are counted in the database,
// so that they hold for all the servers sharing it together.
#include "server/storage/sql/sql_storage.h"

namespace heartpage::server {
namespace {

// What came back from the version bound, kept before its receipts begin
// afresh: only a version that asked something and was opened or answered.
void KeepEarlier(SqlSession& db, std::string_view name, std::int64_t replaced) {
  std::int64_t earlier = 0;
  {
    SqlRows kept = db.Run(
        "INSERT INTO receipt_earlier (name, question, choice1, choice2, opened, first_opened, "
        "last_opened, replaced) SELECT name, question, choice1, choice2, opened, first_opened, "
        "last_opened, $2 FROM receipts WHERE name = $1 AND question <> '' AND (opened > 0 "
        "OR EXISTS (SELECT 1 FROM receipt_answers WHERE name = $1)) RETURNING id",
        {name, replaced});
    if (!kept) return;
    earlier = kept.Int(0);
  }
  db.Run(
      "INSERT INTO receipt_earlier_answers (earlier, choice, at) "
      "SELECT $2, choice, at FROM receipt_answers WHERE name = $1 ORDER BY id",
      {name, earlier});
  db.Run(
      "DELETE FROM receipt_earlier WHERE name = $1 AND id NOT IN "
      "(SELECT id FROM receipt_earlier WHERE name = $1 ORDER BY id DESC LIMIT $2)",
      {name, kEarlierVersionsKept});
}

// What `visitor` sent `name` in `minute`: {openings, answers}.
std::pair<std::int64_t, std::int64_t> VisitorCounts(SqlSession& db, std::string_view name,
                                                    std::string_view visitor, std::int64_t minute) {
  if (visitor.empty()) return {0, 0};
  SqlRows counts = db.Run(
      "SELECT opened, answers FROM receipt_visitors WHERE name = $1 AND visitor = $2 AND "
      "minute = $3",
      {name, visitor, minute});
  if (!counts) return {0, 0};
  return {counts.Int(0), counts.Int(1)};
}

void NoteVisitor(SqlSession& db, std::string_view name, std::string_view visitor,
                 std::int64_t minute, std::int64_t opened, std::int64_t answers) {
  if (visitor.empty()) return;
  db.Run(
      "INSERT INTO receipt_visitors AS v (name, visitor, minute, opened, answers) "
      "VALUES ($1, $2, $3, $4, $5) ON CONFLICT (name, visitor) DO UPDATE SET "
      "opened = CASE WHEN v.minute = $3 THEN v.opened + $4 ELSE $4 END, "
      "answers = CASE WHEN v.minute = $3 THEN v.answers + $5 ELSE $5 END, minute = $3",
      {name, visitor, minute, opened, answers});
  // Only the minute that counts is kept of anyone.
  db.Run("DELETE FROM receipt_visitors WHERE minute < $1", {minute});
}

// Why a visit was not counted, once the statement that counts it changed
// nothing.
VisitResult WhyNot(SqlSession& db, std::string_view name, std::string_view etag) {
  SqlRows bound = db.Run(
      "SELECT question = '' FROM receipts WHERE name = $1 AND (COALESCE($2, '') = '' OR etag = "
      "$2)",
      {name, etag});
  if (!bound) return VisitResult::kUnbound;
  return bound.Truth(0) ? VisitResult::kNoQuestion : VisitResult::kTooMany;
}

void KeepTries(SqlSession& db, std::string_view name, std::string_view visitor,
               const UnlockTries& tries) {
  db.Run(
      "INSERT INTO unlock_tries (name, visitor, since, tries) VALUES ($1, $2, $3, $4) "
      "ON CONFLICT (name, visitor) DO UPDATE SET since = $3, tries = $4",
      {name, visitor, tries.since, tries.tries});
}

}  // namespace

void SqlStorage::BindQuestion(std::string_view name, const PageVersion& version,
                              const PageQuestion& question) {
  // Bound again from the page whenever lost: no sync of its own.
  Write(
      [&](SqlSession& db) {
        if (db.Run("INSERT INTO receipts (name, modified, etag, question, choice1, choice2) "
                   "SELECT $1, $2, $3, $4, $5, $6 WHERE EXISTS "
                   "(SELECT 1 FROM 免费 WHERE 文件名 = $1) "
                   "ON CONFLICT (name) DO NOTHING RETURNING 1",
                   {name, version.modified, version.etag, question.text, question.choices[0],
                    question.choices[1]}))
          return;
        bool same = false;
        {
          SqlRows bound = db.Run(
              "SELECT modified, etag, question, choice1, choice2 FROM receipts WHERE name = $1 "
              "FOR UPDATE",
              {name});
          if (!bound || bound.Int(0) > version.modified || bound.View(1) == version.etag) return;
          same = PageQuestion{bound.Text(2), {bound.Text(3), bound.Text(4)}} == question;
        }
        if (!same) {
          KeepEarlier(db, name, version.modified);
          db.Run("DELETE FROM receipt_answers WHERE name = $1", {name});
        }
        db.Run(
            "UPDATE receipts SET modified = $2, etag = $3, question = $4, choice1 = $5, "
            "choice2 = $6, opened = CASE WHEN $7 = 1 THEN opened ELSE 0 END, "
            "first_opened = CASE WHEN $7 = 1 THEN first_opened ELSE 0 END, "
            "last_opened = CASE WHEN $7 = 1 THEN last_opened ELSE 0 END WHERE name = $1",
            {name, version.modified, version.etag, question.text, question.choices[0],
             question.choices[1], same});
      },
      /*synced=*/false);
}

VisitResult SqlStorage::CountOpening(std::string_view name, std::string_view etag,
                                     std::string_view visitor, std::int64_t now) {
  const std::string who = visitor.empty() ? std::string() : Hasher()(visitor).hex();
  const std::int64_t minute = now / 60;
  // A count lost to a crash costs little; a sync for every visitor would.
  return Write(
      [&](SqlSession& db) {
        const std::int64_t mine = VisitorCounts(db, name, who, minute).first;
        if (mine >= kVisitorOpeningsPerMinute) return WhyNot(db, name, etag);
        const std::int64_t room =
            kPageOpeningsPerMinute * (mine == 0 && !who.empty() ? kNewcomerRoom : 1);
        if (!db.Run("UPDATE receipts SET opened = opened + 1, "
                    "first_opened = CASE WHEN first_opened = 0 THEN $3 ELSE first_opened END, "
                    "last_opened = $3, "
                    "opened_in_minute = CASE WHEN opened_minute = $4 "
                    "THEN opened_in_minute + 1 ELSE 1 END, opened_minute = $4 "
                    "WHERE name = $1 AND (COALESCE($2, '') = '' OR etag = $2) AND question <> '' "
                    "AND (opened_minute <> $4 OR opened_in_minute < $5) RETURNING 1",
                    {name, etag, now, minute, room}))
          return WhyNot(db, name, etag);
        NoteVisitor(db, name, who, minute, 1, 0);
        return VisitResult::kCounted;
      },
      /*synced=*/false);
}

VisitResult SqlStorage::AddAnswer(std::string_view name, std::string_view etag,
                                  std::string_view visitor, int choice, std::int64_t now) {
  const std::string who = visitor.empty() ? std::string() : Hasher()(visitor).hex();
  const std::int64_t minute = now / 60;
  return Write([&](SqlSession& db) {
    // The row's lock puts the answers of one page in a line, across servers,
    // so that the rate and the room kept see every answer before theirs.
    {
      SqlRows bound = db.Run(
          "SELECT question = '' FROM receipts WHERE name = $1 AND (COALESCE($2, '') = '' OR "
          "etag = $2) FOR UPDATE",
          {name, etag});
      if (!bound) return VisitResult::kUnbound;
      if (bound.Truth(0)) return VisitResult::kNoQuestion;
    }
    const std::int64_t mine = VisitorCounts(db, name, who, minute).second;
    if (mine >= kVisitorAnswersPerMinute) return VisitResult::kTooMany;
    // The page's minute is counted by address, since the answers kept stop
    // growing once its first readers have filled them.
    const std::int64_t room =
        kPageAnswersPerMinute * (mine == 0 && !who.empty() ? kNewcomerRoom : 1);
    if (db.Run("SELECT COALESCE(SUM(answers), 0) FROM receipt_visitors WHERE name = $1 AND "
               "minute = $2",
               {name, minute})
            .Int(0) >= room)
      return VisitResult::kTooMany;
    // What its first readers said stays: whoever learns the address later
    // cannot push it out, however many addresses it has.
    db.Run(
        "INSERT INTO receipt_answers (name, choice, at) SELECT $1, $2, $3 WHERE "
        "(SELECT count(*) FROM receipt_answers WHERE name = $1) < $4",
        {name, choice, now, wire::kReceiptAnswersKept});
    NoteVisitor(db, name, who, minute, 0, 1);
    return VisitResult::kCounted;
  });
}

std::optional<PageReceipts> SqlStorage::LoadReceipts(std::string_view name) {
  return Read([&](SqlSession& db) -> std::optional<PageReceipts> {
    SqlRows row = db.Run(
        "SELECT etag, question, choice1, choice2, opened, first_opened, last_opened "
        "FROM receipts WHERE name = $1",
        {name});
    if (!row) return std::nullopt;
    PageReceipts receipts{row.Text(0), {row.Text(1), {row.Text(2), row.Text(3)}},
                          row.Int(4),  row.Int(5),
                          row.Int(6),  {},
                          {}};
    for (SqlRows answers =
             db.Run("SELECT choice, at FROM receipt_answers WHERE name = $1 ORDER BY id", {name});
         answers; answers.Next())
      receipts.answers.push_back({static_cast<int>(answers.Int(0)), answers.Int(1)});
    std::vector<std::int64_t> ids;
    for (SqlRows earlier = db.Run(
             "SELECT id, question, choice1, choice2, opened, first_opened, last_opened, replaced "
             "FROM receipt_earlier WHERE name = $1 ORDER BY id DESC",
             {name});
         earlier; earlier.Next()) {
      ids.push_back(earlier.Int(0));
      receipts.earlier.push_back({{earlier.Text(1), {earlier.Text(2), earlier.Text(3)}},
                                  earlier.Int(4),
                                  earlier.Int(5),
                                  earlier.Int(6),
                                  earlier.Int(7),
                                  {}});
    }
    for (SqlRows answers = db.Run(
             "SELECT a.earlier, a.choice, a.at FROM receipt_earlier_answers a JOIN receipt_earlier "
             "e ON e.id = a.earlier WHERE e.name = $1 ORDER BY a.id",
             {name});
         answers; answers.Next())
      for (std::size_t i = 0; i < ids.size(); ++i)
        if (ids[i] == answers.Int(0))
          receipts.earlier[i].answers.push_back({static_cast<int>(answers.Int(1)), answers.Int(2)});
    return receipts;
  });
}

UnlockVerdict SqlStorage::TakeUnlockTry(std::string_view name, std::string_view visitor,
                                        std::int64_t now) {
  // The page's own window is the row of no visitor, its pace the row "~",
  // an address's turn its hash and "~": a hashed address is never empty
  // and holds no "~".
  const std::string who = visitor.empty() ? std::string() : Hasher()(visitor).hex();
  const std::string turn_of = who.empty() ? std::string() : who + "~";
  return Write(
      [&](SqlSession& db) {
        // Windows and turns past their end say nothing any more; the pace
        // lasts longer, or a guesser who paused would find it gone.
        db.Run("DELETE FROM unlock_tries WHERE since <= $1 AND visitor <> '~'",
               {now - kUnlockWindowSeconds});
        db.Run("DELETE FROM unlock_tries WHERE since <= $1 AND visitor = '~'",
               {now - kUnlockPaceKeptSeconds});
        // The page's own row, locked, orders the tries of all servers at one
        // page: none can read a window another is about to write.
        db.Run(
            "INSERT INTO unlock_tries (name, visitor, since, tries) VALUES ($1, '', $2, 0) "
            "ON CONFLICT DO NOTHING",
            {name, now});
        UnlockTries page;
        if (SqlRows row = db.Run(
                "SELECT since, tries FROM unlock_tries WHERE name = $1 AND visitor = '' FOR UPDATE",
                {name}))
          page = {row.Int(0), row.Int(1)};
        const auto row_of = [&](const std::string& key) {
          UnlockTries kept;
          if (SqlRows row =
                  db.Run("SELECT since, tries FROM unlock_tries WHERE name = $1 AND visitor = $2",
                         {name, key}))
            kept = {row.Int(0), row.Int(1)};
          return kept;
        };
        const UnlockTries paced = row_of("~");
        const UnlockPace pace{paced.since, paced.tries};
        const UnlockTries mine = who.empty() ? UnlockTries{} : row_of(who);
        const std::int64_t turn = who.empty() ? 0 : row_of(turn_of).since;
        const UnlockVerdict verdict = DecideUnlockTry(mine, page, pace, turn, !who.empty(), now);
        if (verdict.allowed) {
          if (!who.empty()) KeepTries(db, name, who, verdict.address);
          KeepTries(db, name, "", verdict.page);
        }
        if (verdict.pace != pace) KeepTries(db, name, "~", {verdict.pace.next, verdict.pace.turns});
        if (verdict.turn != turn) {
          if (verdict.turn != 0)
            KeepTries(db, name, turn_of, {verdict.turn, 0});
          else
            db.Run("DELETE FROM unlock_tries WHERE name = $1 AND visitor = $2", {name, turn_of});
        }
        return verdict;
      },
      /*synced=*/false);
}

}  // namespace heartpage::server
