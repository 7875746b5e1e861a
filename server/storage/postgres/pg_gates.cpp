// The pages' gates in PostgreSQL, in the table of their own migration.
#include "server/storage/postgres/pg_storage.h"

namespace heartpage::server {

void StoreGate(PgConnection& db, std::string_view name, const PageGate& gate) {
  db.Run("DELETE FROM page_gates WHERE name = $1", {name});
  if (gate.empty()) return;
  db.Run("INSERT INTO page_gates (name, opens, code_hash, hint) VALUES ($1, $2::bigint, $3, $4)",
         {name, std::to_string(gate.opens), gate.code_hash, gate.hint});
}

}  // namespace heartpage::server
