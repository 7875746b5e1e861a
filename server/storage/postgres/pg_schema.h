#pragma once

#include <functional>
#include <string>

#include "server/storage/postgres/pg_connection.h"

// The schema of a PostgreSQL database shared by several servers, kept by
// version: each server brings it up to date at start, one at a time.
namespace heartpage::server {

// The schema version this server writes; a database of a newer one is
// refused rather than misread.
inline constexpr int kPostgresSchemaVersion = 12;

// The channel on which a store announces the name of the page it changed,
// and the one on which each server confirms it dropped that page.
inline constexpr const char* kPageChannel = "heartpage_pages";
inline constexpr const char* kDroppedChannel = "heartpage_dropped";

// Applies, in one transaction, every migration the database lacks, after
// taking a lock that makes any other server starting at the same moment wait
// for the result. Creates the key for machine identifiers on first use and
// returns it. Throws StorageError for a database of a newer server.
std::string MigratePostgres(PgConnection& db, const std::function<void(const std::string&)>& note);

}  // namespace heartpage::server
