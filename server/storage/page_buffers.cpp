#include "server/storage/page_buffers.h"

#include "server/storage/kept_blocks.h"

namespace heartpage::server {
namespace {

struct Capacity {
  std::size_t operator()(const std::string& block) const { return block.capacity(); }
};

KeptBlocks<std::string, Capacity>& Kept() {
  // Never destroyed: pages may go after main().
  static auto* kept = new KeptBlocks<std::string, Capacity>(PageBuffers::kKept);
  return *kept;
}

void GiveBack(std::string&& block) {
  if (block.capacity() >= PageBuffers::kLarge) Kept().Keep(std::move(block));
}

}  // namespace

std::shared_ptr<StoredPage> PageBuffers::NewPage() {
  return std::shared_ptr<StoredPage>(new StoredPage, [](StoredPage* page) {
    GiveBack(std::move(page->bytes));
    GiveBack(std::move(page->compressed));
    delete page;
  });
}

void PageBuffers::Fill(std::string& into, std::string_view bytes) {
  if (bytes.size() >= kLarge)
    if (std::optional<std::string> block = Kept().Take(bytes.size())) into = std::move(*block);
  into.assign(bytes);
}

}  // namespace heartpage::server
