#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "server/storage/page_store.h"

namespace heartpage::server {

// Memory for large pages read past the cache, used again from one read to
// the next (KeptBlocks), at most kKept bytes of it. main() draws the line
// above which the allocator gives a block back to the system.
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
