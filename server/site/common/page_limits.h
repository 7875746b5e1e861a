#pragma once

#include <cstdint>

namespace heartpage::server {

// What the pages stored from one client address may grow by, whatever
// identifiers it sends. Replacing a page with one no larger costs nothing,
// so an owner who republishes a page of the usual size never meets them.
struct PageLimits {
  std::uint64_t per_address_daily = std::uint64_t{16} * 1024 * 1024;
  // Over the last kAddressUsageDays days.
  std::uint64_t per_address_recent = std::uint64_t{64} * 1024 * 1024;
};

}  // namespace heartpage::server
