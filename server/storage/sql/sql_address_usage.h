#pragma once

#include <cstdint>
#include <string_view>

#include "server/storage/address_usage.h"
#include "server/storage/sql/sql_session.h"

// The bytes each client address sent (address_usage.h), as every engine keeps
// them; called inside the rules' transactions.
namespace heartpage::server {

// Locks the row of `key` and `day` until the transaction ends, so that two
// servers storing for one address take turns, and answers what it holds.
AddressDay LockUsage(SqlSession& db, std::string_view key, std::int64_t day);
// New files' bytes from `key` on `first_day` and after.
std::uint64_t MediaSince(SqlSession& db, std::string_view key, std::int64_t first_day);
// What the pages of `key` grew by on `first_day` and after.
std::uint64_t PagesSince(SqlSession& db, std::string_view key, std::int64_t first_day);
void AddUsage(SqlSession& db, std::string_view key, std::int64_t day, const AddressDay& added);

}  // namespace heartpage::server
