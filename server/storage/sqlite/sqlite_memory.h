#pragma once

namespace heartpage::server {

// Has SQLite keep the large blocks it frees for its next large value, as
// PageBuffers keeps the pages' own: a page's bytes read past the cache pass
// through a block of SQLite's as large as they are, which the allocator
// would otherwise map afresh, and fault in a page at a time, for every read.
// Once, before SQLite first runs; later it changes nothing.
void KeepSqliteLargeBlocks();

}  // namespace heartpage::server
