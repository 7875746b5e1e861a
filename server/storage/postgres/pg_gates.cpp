// The pages' gates and the tries at their codes, in PostgreSQL, in the
// tables of their own migration: the tries are counted in the database, so
// that every server sharing it takes from the same windows.
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {

void StoreGate(PgConnection& db, std::string_view name, const PageGate& gate) {
  db.Run("DELETE FROM page_gates WHERE name = $1", {name});
  if (gate.empty()) return;
  db.Run("INSERT INTO page_gates (name, opens, code_hash, hint) VALUES ($1, $2::bigint, $3, $4)",
         {name, std::to_string(gate.opens), gate.code_hash, gate.hint});
}

namespace {

void KeepTries(PgConnection& db, std::string_view name, std::string_view visitor,
               const UnlockTries& tries) {
  db.Run(
      "INSERT INTO unlock_tries (name, visitor, since, tries) VALUES ($1, $2, $3::bigint, "
      "$4::bigint) ON CONFLICT (name, visitor) DO UPDATE SET since = $3::bigint, tries = "
      "$4::bigint",
      {name, visitor, std::to_string(tries.since), std::to_string(tries.tries)});
}

}  // namespace

UnlockVerdict PostgresStorage::TakeUnlockTry(std::string_view name, std::string_view visitor,
                                             std::int64_t now) {
  const MachineIdHasher& hash = Hasher();
  const std::string who = visitor.empty() ? std::string() : hash(visitor).hex();
  Lease db = Acquire();
  return db->Transaction(
      [&] {
        db->Run("DELETE FROM unlock_tries WHERE since <= $1::bigint",
                {std::to_string(now - kUnlockWindowSeconds)});
        // The page's own row, locked, orders the tries of all servers at one
        // page: none can read a window another is about to write.
        db->Run(
            "INSERT INTO unlock_tries (name, visitor, since, tries) VALUES ($1, '', $2::bigint, 0) "
            "ON CONFLICT DO NOTHING",
            {name, std::to_string(now)});
        const PgResult page = db->Run(
            "SELECT since, tries FROM unlock_tries WHERE name = $1 AND visitor = '' FOR UPDATE",
            {name});
        UnlockTries mine;
        if (!who.empty()) {
          const PgResult row = db->Run(
              "SELECT since, tries FROM unlock_tries WHERE name = $1 AND visitor = $2", {name, who});
          if (row.Rows() == 1) mine = {row.Int(0, 0), row.Int(0, 1)};
        }
        const UnlockVerdict verdict =
            DecideUnlockTry(mine, {page.Int(0, 0), page.Int(0, 1)}, !who.empty(), now);
        if (verdict.allowed) {
          if (!who.empty()) KeepTries(*db, name, who, verdict.address);
          KeepTries(*db, name, "", verdict.page);
        }
        return verdict;
      },
      /*synced=*/false);
}

}  // namespace heartpage::server
