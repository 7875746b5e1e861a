#include "server/storage/postgres/pg_address_usage.h"

#include <string>

namespace heartpage::server {

AddressDay LockUsage(PgConnection& db, std::string_view key, std::int64_t day) {
  // An update that changes nothing still takes the row's lock, also of a
  // row made just now; a column outside the key keeps it a cheap one.
  const PgResult row = db.Run(
      "INSERT INTO 地址用量 (地址, 日) VALUES ($1, $2::bigint) ON CONFLICT (地址, 日) "
      "DO UPDATE SET 媒体字节 = 地址用量.媒体字节 RETURNING 媒体字节, 预览字节, 页面字节",
      {key, std::to_string(day)});
  return {static_cast<std::uint64_t>(row.Int(0, 0)), static_cast<std::uint64_t>(row.Int(0, 1)),
          static_cast<std::uint64_t>(row.Int(0, 2))};
}

std::uint64_t MediaSince(PgConnection& db, std::string_view key, std::int64_t first_day) {
  return static_cast<std::uint64_t>(
      db.Run("SELECT COALESCE(SUM(媒体字节), 0) FROM 地址用量 WHERE 地址 = $1 AND 日 >= $2::bigint",
             {key, std::to_string(first_day)})
          .Int(0, 0));
}

std::uint64_t PagesSince(PgConnection& db, std::string_view key, std::int64_t first_day) {
  return static_cast<std::uint64_t>(
      db.Run("SELECT COALESCE(SUM(页面字节), 0) FROM 地址用量 WHERE 地址 = $1 AND 日 >= $2::bigint",
             {key, std::to_string(first_day)})
          .Int(0, 0));
}

void AddUsage(PgConnection& db, std::string_view key, std::int64_t day, const AddressDay& added) {
  if (key.empty() || (added.media == 0 && added.previews == 0 && added.pages == 0)) return;
  db.Run(
      "INSERT INTO 地址用量 (地址, 日, 媒体字节, 预览字节, 页面字节) "
      "VALUES ($1, $2::bigint, $3::bigint, $4::bigint, $5::bigint) ON CONFLICT (地址, 日) "
      "DO UPDATE SET 媒体字节 = 地址用量.媒体字节 + excluded.媒体字节, "
      "预览字节 = 地址用量.预览字节 + excluded.预览字节, "
      "页面字节 = 地址用量.页面字节 + excluded.页面字节",
      {key, std::to_string(day), std::to_string(added.media), std::to_string(added.previews),
       std::to_string(added.pages)});
}

void PruneUsage(PgConnection& db, std::int64_t first_day) {
  db.Run("DELETE FROM 地址用量 WHERE 日 < $1::bigint", {std::to_string(first_day)});
}

}  // namespace heartpage::server
