#pragma once

namespace heartpage::server {

// Where a request is answered: at once on the network thread, because
// nothing in it waits on the database (assets, pages held in memory,
// refusals), or on a storage worker, reading or writing. Each kind but the
// first two has a rate of its own by client address: a lookup by machine
// identifier reads; so does a visitor's report write, and what a published
// page's script sends back (an opening, an answer).
enum class Work { kAtOnce, kRead, kLookup, kClaim, kStore, kReport, kVisit };

}  // namespace heartpage::server
