#include "server/storage/sqlite/sqlite_memory.h"

#include <sqlite3.h>

#include <mutex>
#include <vector>

namespace heartpage::server {
namespace {

// What SQLite allocates with by default, and the blocks kept from it, at
// most kKept bytes of them.
sqlite3_mem_methods system_memory{};
std::mutex kept_mutex;
std::vector<void*>* kept_blocks = nullptr;  // never destroyed: SQLite may free after main()
long long kept_bytes = 0;

// Above the media's chunks (kMediaChunk), which a slow reader of a file
// reads one by one: their blocks are the allocator's to give back.
constexpr int kLarge = 1024 * 1024;
constexpr long long kKept = 8 * 1024 * 1024;

void* Allocate(int size) {
  if (size >= kLarge) {
    std::lock_guard lock(kept_mutex);
    // The smallest that holds it, unless it would waste more than it holds.
    auto best = kept_blocks->end();
    int best_size = 0;
    for (auto it = kept_blocks->begin(); it != kept_blocks->end(); ++it) {
      const int have = system_memory.xSize(*it);
      if (have >= size && have / 2 <= size && (best_size == 0 || have < best_size)) {
        best = it;
        best_size = have;
      }
    }
    if (best != kept_blocks->end()) {
      void* block = *best;
      kept_blocks->erase(best);
      kept_bytes -= best_size;
      return block;
    }
  }
  return system_memory.xMalloc(size);
}

void Free(void* block) {
  if (block != nullptr) {
    const int size = system_memory.xSize(block);
    if (size >= kLarge) {
      std::lock_guard lock(kept_mutex);
      if (kept_bytes + size <= kKept) {
        kept_blocks->push_back(block);
        kept_bytes += size;
        return;
      }
    }
  }
  system_memory.xFree(block);
}

void* Resize(void* block, int size) {
  return system_memory.xRealloc(block, size);
}
int SizeOf(void* block) {
  return system_memory.xSize(block);
}
int RoundUp(int size) {
  return system_memory.xRoundup(size);
}
int Start(void* data) {
  return system_memory.xInit(data);
}
void Stop(void* data) {
  system_memory.xShutdown(data);
}

}  // namespace

void KeepSqliteLargeBlocks() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sqlite3_config(SQLITE_CONFIG_GETMALLOC, &system_memory) != SQLITE_OK) return;
    kept_blocks = new std::vector<void*>;
    sqlite3_mem_methods kept{Allocate, Free,  Resize, SizeOf,
                             RoundUp,  Start, Stop,   system_memory.pAppData};
    // Refused once SQLite has started: it then allocates as it did.
    sqlite3_config(SQLITE_CONFIG_MALLOC, &kept);
  });
}

}  // namespace heartpage::server
