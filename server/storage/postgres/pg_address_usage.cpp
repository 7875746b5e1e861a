#include "server/storage/postgres/pg_address_usage.h"

#include <string>

namespace heartpage::server {

std::uint64_t LockUsage(PgConnection& db, std::string_view key, std::int64_t day) {
  // An update that changes nothing still takes the row's lock, also of a
  // row made just now; a column outside the key keeps it a cheap one.
  const PgResult row = db.Run(
      "INSERT INTO 地址用量 (地址, 日) VALUES ($1, $2::bigint) ON CONFLICT (地址, 日) "
      "DO UPDATE SET 媒体字节 = 地址用量.媒体字节 RETURNING 媒体字节 + 预览字节",
      {key, std::to_string(day)});
  return static_cast<std::uint64_t>(row.Int(0, 0));
}

std::uint64_t MediaSince(PgConnection& db, std::string_view key, std::int64_t first_day) {
  return static_cast<std::uint64_t>(
      db.Run("SELECT COALESCE(SUM(媒体字节), 0) FROM 地址用量 WHERE 地址 = $1 AND 日 >= $2::bigint",
             {key, std::to_string(first_day)})
          .Int(0, 0));
}

void AddUsage(PgConnection& db, std::string_view key, std::int64_t day, std::uint64_t media,
              std::uint64_t previews) {
  if (key.empty()) return;
  db.Run(
      "INSERT INTO 地址用量 (地址, 日, 媒体字节, 预览字节) "
      "VALUES ($1, $2::bigint, $3::bigint, $4::bigint) ON CONFLICT (地址, 日) DO UPDATE SET "
      "媒体字节 = 地址用量.媒体字节 + excluded.媒体字节, "
      "预览字节 = 地址用量.预览字节 + excluded.预览字节",
      {key, std::to_string(day), std::to_string(media), std::to_string(previews)});
}

void PruneUsage(PgConnection& db, std::int64_t first_day) {
  db.Run("DELETE FROM 地址用量 WHERE 日 < $1::bigint", {std::to_string(first_day)});
}

}  // namespace heartpage::server
