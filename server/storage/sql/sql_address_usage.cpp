#include "server/storage/sql/sql_address_usage.h"

namespace heartpage::server {

AddressDay LockUsage(SqlSession& db, std::string_view key, std::int64_t day) {
  // An update that changes nothing still takes the row's lock, also of a
  // row made just now; a column outside the key keeps it a cheap one.
  SqlRows row = db.Run(
      "INSERT INTO 地址用量 AS u (地址, 日) VALUES ($1, $2) ON CONFLICT (地址, 日) "
      "DO UPDATE SET 媒体字节 = u.媒体字节 RETURNING 媒体字节, 预览字节, 页面字节",
      {key, day});
  return {row.Count(0), row.Count(1), row.Count(2)};
}

std::uint64_t MediaSince(SqlSession& db, std::string_view key, std::int64_t first_day) {
  return db
      .Run("SELECT COALESCE(SUM(媒体字节), 0) FROM 地址用量 WHERE 地址 = $1 AND 日 >= $2",
           {key, first_day})
      .Count(0);
}

std::uint64_t PagesSince(SqlSession& db, std::string_view key, std::int64_t first_day) {
  return db
      .Run("SELECT COALESCE(SUM(页面字节), 0) FROM 地址用量 WHERE 地址 = $1 AND 日 >= $2",
           {key, first_day})
      .Count(0);
}

void AddUsage(SqlSession& db, std::string_view key, std::int64_t day, const AddressDay& added) {
  if (key.empty() || (added.media == 0 && added.previews == 0 && added.pages == 0)) return;
  db.Run(
      "INSERT INTO 地址用量 AS u (地址, 日, 媒体字节, 预览字节, 页面字节) "
      "VALUES ($1, $2, $3, $4, $5) ON CONFLICT (地址, 日) "
      "DO UPDATE SET 媒体字节 = u.媒体字节 + $3, 预览字节 = u.预览字节 + $4, "
      "页面字节 = u.页面字节 + $5",
      {key, day, added.media, added.previews, added.pages});
}

}  // namespace heartpage::server
