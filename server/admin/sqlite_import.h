#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {

struct ImportCounts {
  std::size_t settings = 0;            // fields copied
  std::size_t claims = 0;              // copied
  std::size_t claims_present = 0;      // already there, same owner
  std::size_t claims_conflicting = 0;  // held there by another machine; left as they are
  std::size_t pages = 0;               // copied or brought up to date
  std::size_t pages_present = 0;       // already there, same bytes
  std::size_t pages_left = 0;          // of names another machine holds there
};

// Copies the settings, claims and pages of `source` into the PostgreSQL
// database at `uri`, in one transaction: all of it or, on any failure,
// nothing. Safe to repeat. The database adopts the folder's key for machine
// identifiers, which it can only do while it holds no claims made under a
// key of its own (StorageError otherwise), since hashes cannot be re-keyed.
// Servers running on the database drop the pages it replaces.
ImportCounts ImportSqlite(SqliteStorage& source, const std::string& uri,
                          const std::function<void(const std::string&)>& note);

}  // namespace heartpage::server
