#pragma once

#include <functional>
#include <string>

#include "server/storage/machine_id_hash.h"
#include "server/storage/sqlite/sqlite_storage.h"

// The schema of a SQLite database, in one place: what a new database gets,
// and every step that brings one of an older server up to date.
namespace heartpage::server {

// In one write transaction: creates the schema on first use, or brings an
// older one up to date, which `note` is told about. Identifiers an old
// database keeps in the clear are hashed with `hash`. Throws StorageError for
// a database of a newer server (`file` names it).
void OpenSqliteSchema(SqliteStorage::Connection& db, const MachineIdHasher& hash,
                      const std::string& file, const std::function<void(const std::string&)>& note);

}  // namespace heartpage::server
