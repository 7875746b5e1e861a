#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/storage/machine_id_hash.h"
#include "server/storage/storage_error.h"

// Names arrive in small letters (PageNameKey), so that one name has one
// owner however it is typed. Machines are known only by the hash of their
// identifier (HashMachineId), never by the identifier itself.
namespace heartpage::server {

struct Claim {
  MachineIdHash owner;
  std::string name;
  std::string claimed_at;  // UTC, "YYYY-MM-DD HH:MM:SS"
};

enum class ClaimResult { kClaimed, kTaken };

// Who holds which name. Giving a name up ends its page too, so that lives
// with the pages (PageStore::ReleaseName).
class ClaimStore {
 public:
  virtual ~ClaimStore() = default;

  // The identifier as this store knows it, under the store's own key.
  virtual MachineIdHash HashMachineId(std::string_view machine_id) = 0;

  // Rows in the order they were claimed.
  virtual std::vector<Claim> ClaimsOfMachine(const MachineIdHash& owner) = 0;
  virtual std::vector<Claim> ClaimsOfName(std::string_view name) = 0;
  // Of any number of concurrent claims of one name exactly one succeeds.
  virtual ClaimResult ClaimName(const MachineIdHash& owner, std::string_view name) = 0;
};

}  // namespace heartpage::server
