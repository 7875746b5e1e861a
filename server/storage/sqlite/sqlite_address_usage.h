#pragma once

#include <cstdint>
#include <string_view>

#include "server/storage/address_usage.h"
#include "server/storage/sqlite/sqlite_storage.h"

// The bytes each client address sent (address_usage.h), as the SQLite store
// keeps them; called inside its write transactions.
namespace heartpage::server {

// Files, previews and the pages' growth from `key` on `day`.
AddressDay UsageOn(SqliteStorage::Connection& db, std::string_view key, std::int64_t day);
// New files' bytes from `key` on `first_day` and after.
std::uint64_t MediaSince(SqliteStorage::Connection& db, std::string_view key,
                         std::int64_t first_day);
// What the pages of `key` grew by on `first_day` and after.
std::uint64_t PagesSince(SqliteStorage::Connection& db, std::string_view key,
                         std::int64_t first_day);
void AddUsage(SqliteStorage::Connection& db, std::string_view key, std::int64_t day,
              const AddressDay& added);
// Forgets the days before `first_day`.
void PruneUsage(SqliteStorage::Connection& db, std::int64_t first_day);

}  // namespace heartpage::server
