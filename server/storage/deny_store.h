#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/storage_error.h"

namespace heartpage::server {

// What the operator will not have on the site's pages: a host (and its
// subdomains) in an address, or a word anywhere in a field.
enum class DenyKind { kHost, kWord };

struct DenyEntry {
  DenyKind kind = DenyKind::kWord;
  std::string value;  // as NormalizeDenied made it (server/site/deny_check.h)
  bool operator==(const DenyEntry&) const = default;
};

// "host" or "word".
inline std::string_view DenyKindName(DenyKind kind) {
  return kind == DenyKind::kHost ? "host" : "word";
}

// The operator's deny list. Values come normalized, so that adding one twice,
// or in other letters, finds the same entry.
class DenyStore {
 public:
  virtual ~DenyStore() = default;

  // Whether the entry is new.
  virtual bool AddDenied(const DenyEntry& entry, std::int64_t now) = 0;
  // Whether it was there.
  virtual bool RemoveDenied(const DenyEntry& entry) = 0;
  // Hosts first, each kind in order.
  virtual std::vector<DenyEntry> DeniedList() = 0;
};

}  // namespace heartpage::server
