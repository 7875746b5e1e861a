#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "server/storage/page_store.h"

namespace heartpage::server {

// Memory for large pages read past the cache, used again from one read to
// the next. The allocator gives a block this large back to the system when it
// is freed (main() draws that line), and the next read of as many bytes
// would fault every page of a fresh block in again, which costs ten times
// copying the bytes. At most kKept bytes wait here between reads.
class PageBuffers {
 public:
  // Blocks below this size come from the allocator's own pools anyway.
  static constexpr std::size_t kLarge = 256 * 1024;
  static constexpr std::size_t kKept = 16 * 1024 * 1024;

  // A page whose large bytes go back to the buffers when its last holder
  // lets go of it.
  static std::shared_ptr<StoredPage> NewPage();
  // `bytes` in `into`, in a block kept from an earlier read where one fits.
  static void Fill(std::string& into, std::string_view bytes);
};

}  // namespace heartpage::server
