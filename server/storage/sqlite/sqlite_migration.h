#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "server/storage/machine_id_hash.h"
#include "server/storage/sqlite/sqlite_storage.h"

// Bringing a database of an older server up to date, inside the write
// transaction that opens the storage.
namespace heartpage::server {

// Whether `table` has `column`.
bool HasColumn(SqliteStorage::Connection& db, std::string_view table, std::string_view column);

// Gives the claims their order in a column of their own (it was SQLite's
// rowid), which the statements of every engine name alike.
void NumberClaims(SqliteStorage::Connection& db);

// Gives the previews their order in a column of their own, likewise.
void NumberPreviews(SqliteStorage::Connection& db);

// Whether the claims still hold machine identifiers in the clear.
bool HasClearMachineIds(SqliteStorage::Connection& db);

// Hashes every stored identifier and keeps every name in small letters. Of
// claims whose names differ only in case the earliest stays; each other one,
// and its page, moves to the table 迁移搁置 (set aside, not lost) and is
// noted. The old rows are overwritten with zeros as they go.
void MigrateToHashedIdsAndSmallNames(SqliteStorage::Connection& db, const MachineIdHasher& hash,
                                     const std::function<void(const std::string&)>& note);

// After the migration has committed: no copy of the old rows stays in the
// write-ahead log either.
void ForgetClearMachineIds(SqliteStorage::Connection& db);

}  // namespace heartpage::server
