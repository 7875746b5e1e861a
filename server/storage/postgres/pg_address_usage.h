#pragma once

#include <cstdint>
#include <string_view>

#include "server/storage/address_usage.h"
#include "server/storage/postgres/pg_connection.h"

// The bytes each client address sent (address_usage.h), as the PostgreSQL
// store keeps them; called inside its transactions.
namespace heartpage::server {

// Locks the row of `key` and `day` until the transaction ends, so that two
// servers storing for one address take turns, and answers what it holds.
AddressDay LockUsage(PgConnection& db, std::string_view key, std::int64_t day);
// New files' bytes from `key` on `first_day` and after.
std::uint64_t MediaSince(PgConnection& db, std::string_view key, std::int64_t first_day);
// What the pages of `key` grew by on `first_day` and after.
std::uint64_t PagesSince(PgConnection& db, std::string_view key, std::int64_t first_day);
void AddUsage(PgConnection& db, std::string_view key, std::int64_t day, const AddressDay& added);
// Forgets the days before `first_day`.
void PruneUsage(PgConnection& db, std::int64_t first_day);

}  // namespace heartpage::server
