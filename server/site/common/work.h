#pragma once

#include <cstddef>

namespace heartpage::server {

// Where a request is answered: at once on the network thread, because
// nothing in it waits on the database (assets, pages held in memory,
// refusals), or on a storage worker, reading or writing. Each kind but the
// first two has a rate of its own by client address: a lookup by machine
// identifier reads; so does a visitor's report write, and what a published
// page's script sends back (an opening, an answer). The maker's preview
// reads nothing, but building a page costs what a read does, and follows
// her typing: off the connections' threads, at a rate of its own.
enum class Work { kAtOnce, kRead, kLookup, kClaim, kStore, kReport, kVisit, kPreview };
inline constexpr std::size_t kKindsOfWork = static_cast<std::size_t>(Work::kPreview) + 1;

}  // namespace heartpage::server
