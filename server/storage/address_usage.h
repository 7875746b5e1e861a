#pragma once

#include <cstdint>
#include <string>

// What the senders of files, previews and pages may take, counted by the
// client's address: a machine identifier is whatever the client writes, an
// address is not, so these are the bounds that rotating identifiers cannot
// get around.
//
// Both engines keep the bytes in one table, 地址用量, a row per address and
// day, which the operator's tools read too:
//   地址     text     the client's limit key: "192.0.2.1", "2001:db8:1:2::/64"
//   日       integer  days since 1970-01-01, UTC
//   媒体字节 integer  bytes of new files stored from it that day
//   预览字节 integer  bytes of previews stored from it that day
//   页面字节 integer  bytes by which the pages stored from it that day grew
// primary key (地址, 日). Rows older than kAddressUsageDays go at the sweep
// of unused media. The busiest addresses of the last week, for example:
//   SELECT 地址, SUM(媒体字节), SUM(预览字节) FROM 地址用量 WHERE 日 >= today - 7
//   GROUP BY 地址 ORDER BY SUM(媒体字节 + 预览字节) DESC LIMIT 10
// Live previews also note their address (预览.地址), for their room per
// address.
namespace heartpage::server {

// Who sends a file, a preview or a page, and what that address may send.
struct AddressBudget {
  // The client's limit key; empty: counted under no address (tools, tests).
  std::string key;
  // Files and previews in all, from one address in one day (UTC).
  std::uint64_t daily = UINT64_MAX;
  // What the pages stored from one address may grow by: in one day (UTC),
  // and over the last kAddressUsageDays days.
  std::uint64_t pages_daily = UINT64_MAX;
  std::uint64_t pages_recent = UINT64_MAX;
};

// What one address sent on one day, as its row of 地址用量 holds it.
struct AddressDay {
  std::uint64_t media = 0;
  std::uint64_t previews = 0;
  std::uint64_t pages = 0;  // what its pages grew by
};

// How many days of usage are kept; an address's new files of these days may
// take at most 1 / kAddressShareOfMediaRoom of the media's room.
inline constexpr std::int64_t kAddressUsageDays = 30;
inline constexpr std::uint64_t kAddressShareOfMediaRoom = 4;
// The live previews of one address may take this share of the previews' room.
inline constexpr std::uint64_t kAddressShareOfPreviewRoom = 8;
// The part of the storage limit that only pages may take: media never
// crowd out publishing.
inline constexpr std::uint64_t kPageReserveShareOfLimit = 4;

inline std::int64_t UsageDay(std::int64_t seconds_since_epoch) {
  return seconds_since_epoch / (24 * 60 * 60);
}

// Seconds from `now` to the next day of the usage, at midnight UTC: when an
// address that used its day's budget may send again.
inline std::int64_t SecondsToNextUsageDay(std::int64_t now) {
  return (UsageDay(now) + 1) * 24 * 60 * 60 - now;
}

// What media may take of a storage limit: all but the pages' reserve.
inline std::uint64_t MediaRoomOf(std::uint64_t limit) {
  return limit - limit / kPageReserveShareOfLimit;
}

}  // namespace heartpage::server
