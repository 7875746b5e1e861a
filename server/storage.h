#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/page_file.h"

// Everything the server keeps: the settings row, the name claims and the
// published pages. Implementations must be safe to call from several threads
// at once and, for a database shared by several server processes, from several
// processes: uniqueness of names and atomicity of stores are the database's
// job, not the caller's.
namespace heartpage::server {

struct StorageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One row of 免费, in table order.
struct Claim {
  std::string machine_id;  // 硬盘ID
  std::string name;        // 文件名
  std::string claimed_at;  // UTC, "YYYY-MM-DD HH:MM:SS"
};

struct StoredPage {
  std::string bytes;
  std::int64_t modified = 0;  // seconds since the epoch
  std::string etag;           // quoted, ready for the header
  PageFile file;              // the same bytes, when a cache made them a file
};

// Settings the operator chose; an empty field means "use the default",
// which depends on the address the server is reached at.
struct SiteSettings {
  std::optional<std::string> announcement;
  std::optional<std::string> version_label;
  std::optional<std::string> download_url;
};

enum class ClaimResult { kClaimed, kTaken };
enum class StoreResult { kStored, kUnclaimed, kNotOwner };

class Storage {
 public:
  virtual ~Storage() = default;

  virtual SiteSettings LoadSettings() = 0;
  // Changes only the fields that `changes` holds.
  virtual void UpdateSettings(const SiteSettings& changes) = 0;

  // Rows in the order they were claimed.
  virtual std::vector<Claim> ClaimsOfMachine(std::string_view machine_id) = 0;
  virtual std::vector<Claim> ClaimsOfName(std::string_view name) = 0;
  // Of any number of concurrent claims of one name exactly one succeeds.
  virtual ClaimResult ClaimName(std::string_view machine_id, std::string_view name) = 0;

  // Replaces the page atomically and durably when `name` is claimed by
  // `machine_id`: once this returns kStored the page survives a crash of the
  // process, and a reader never sees a mix of the old and the new bytes.
  // Otherwise nothing changes.
  virtual StoreResult StorePage(std::string_view machine_id, std::string_view name,
                                std::string_view bytes) = 0;
  // Null when there is no such page.
  virtual std::shared_ptr<const StoredPage> LoadPage(std::string_view name) = 0;
};

}  // namespace heartpage::server
