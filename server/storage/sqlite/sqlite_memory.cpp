#include "server/storage/sqlite/sqlite_memory.h"

#include <sqlite3.h>

#include <mutex>

#include "server/storage/kept_blocks.h"

namespace heartpage::server {
namespace {

// What SQLite allocates with by default.
sqlite3_mem_methods system_memory{};

struct BlockSize {
  std::size_t operator()(void* block) const {
    return static_cast<std::size_t>(system_memory.xSize(block));
  }
};
using Kept = KeptBlocks<void*, BlockSize>;
Kept* kept = nullptr;  // never destroyed: SQLite may free after main()

// Above the media's chunks (kMediaChunk), which a slow reader of a file
// reads one by one: their blocks are the allocator's to give back.
constexpr int kLarge = 1024 * 1024;
constexpr std::size_t kKept = 8 * 1024 * 1024;

void* Allocate(int size) {
  if (size >= kLarge)
    if (const std::optional<void*> block = kept->Take(static_cast<std::size_t>(size)))
      return *block;
  return system_memory.xMalloc(size);
}

void Free(void* block) {
  if (block == nullptr || system_memory.xSize(block) < kLarge) return system_memory.xFree(block);
  for (void* gone : kept->Keep(block)) system_memory.xFree(gone);
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
    kept = new Kept(kKept);
    sqlite3_mem_methods keeping{Allocate, Free,  Resize, SizeOf,
                                RoundUp,  Start, Stop,   system_memory.pAppData};
    // Refused once SQLite has started: it then allocates as it did.
    sqlite3_config(SQLITE_CONFIG_MALLOC, &keeping);
  });
}

}  // namespace heartpage::server
