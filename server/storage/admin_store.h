#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/deny_store.h"
#include "server/storage/machine_id_hash.h"
#include "server/storage/storage_error.h"

// What the operator decides about the site, and what the operator's tools
// read of it. Every decision is a row, so that servers sharing the database
// see it too, and is written to the admin log with its reason in the same
// transaction, so that no action goes unrecorded.
namespace heartpage::server {

// Everything a store of a page asks before it reads the page, in one
// reading: with PostgreSQL each question apart is a round trip.
struct StoreStanding {
  bool owner_blocked = false;
  bool page_withheld = false;
  // Who claimed the name; none when nobody has.
  std::optional<MachineIdHash> name_owner;
  // The deny list, as DenyStore::DeniedList gives it.
  std::vector<DenyEntry> denied;
};

// A claimed name as the operator sees it.
struct NameRecord {
  std::string name;
  MachineIdHash owner;
  std::string claimed_at;                 // UTC, "YYYY-MM-DD HH:MM:SS"
  std::optional<std::int64_t> stored_at;  // seconds since the epoch; none: no page
  std::uint64_t size = 0;                 // the page's bytes
  bool withheld = false;                  // taken down by the operator
  bool owner_blocked = false;
};

struct AdminLogEntry {
  std::int64_t at = 0;  // seconds since the epoch
  std::string action;
  std::string target;
  std::string reason;
};

struct DayActivity {
  std::string day;  // "YYYY-MM-DD", UTC
  std::uint64_t claims = 0;
  std::uint64_t stores = 0;  // pages last stored that day
};

// Bytes of media, previews and pages' growth a client address sent over the
// days asked for, when the server counts them.
struct AddressUsage {
  std::string address;
  std::uint64_t bytes = 0;
};

struct SiteFigures {
  std::uint64_t names = 0;
  std::uint64_t pages = 0;
  std::uint64_t page_bytes = 0;
  std::uint64_t media_files = 0;
  std::uint64_t media_bytes = 0;
  std::uint64_t withheld = 0;
  std::uint64_t blocked_owners = 0;
  std::vector<DayActivity> days;  // newest first, days with any activity only
};

enum class AdminResult {
  kDone,
  kUnknown,  // no such name (or file)
  kAlready,  // the decision was in place already; nothing changed
};

class AdminStore {
 public:
  virtual ~AdminStore() = default;

  // Asked while serving. A withheld page still loads, marked so
  // (StoredPage::withheld), which keeps the decision beside the bytes a
  // cache holds.
  virtual bool OwnerBlocked(const MachineIdHash& owner) = 0;
  virtual bool PageWithheld(std::string_view name) = 0;
  // OwnerBlocked, PageWithheld, the name's claim and the deny list at once.
  virtual StoreStanding StandingOfStore(const MachineIdHash& owner, std::string_view name) = 0;
  // `sha256`: 64 small hex digits.
  virtual bool MediaRemoved(std::string_view sha256) = 0;

  // Claimed names claimed at or after `since` (seconds since the epoch), in
  // claim order.
  virtual std::vector<NameRecord> ListNames(std::int64_t since) = 0;
  virtual std::optional<NameRecord> FindName(std::string_view name) = 0;

  // A withheld page answers 451 in every server, and its owner cannot store
  // it again, until it is restored. The name need not hold a page now.
  virtual AdminResult WithholdPage(std::string_view name, std::string_view reason) = 0;
  virtual AdminResult RestorePage(std::string_view name, std::string_view reason) = 0;
  // The owner of `name`. Unblocking also finds an owner through the name it
  // was blocked by, should the name have been given up since.
  virtual AdminResult BlockOwner(std::string_view name, std::string_view reason) = 0;
  virtual AdminResult UnblockOwner(std::string_view name, std::string_view reason) = 0;
  // Deletes every stored file of that hash and refuses it from then on.
  // kUnknown when none was stored (it is refused from then on all the same).
  virtual AdminResult RemoveMedia(std::string_view sha256, std::string_view reason) = 0;

  virtual SiteFigures Figures(int days) = 0;
  // The addresses that took most on the busiest days, when the server counts
  // them; none otherwise.
  virtual std::vector<AddressUsage> BusiestAddresses(int days, std::size_t count) = 0;

  // Newest first, at most `limit`.
  virtual std::vector<AdminLogEntry> AdminLog(std::size_t limit) = 0;
  // For actions whose change lives in another store (the deny list, the
  // reports): the log is one for every action.
  virtual void LogAdminAction(std::string_view action, std::string_view target,
                              std::string_view reason) = 0;

  // A consistent copy of the whole database in `file`, made while servers
  // keep running. Throws StorageError with what to do instead where the
  // engine cannot.
  virtual void Backup(const std::filesystem::path& file) = 0;
};

}  // namespace heartpage::server

namespace heartpage::server {

// Counts `count` for `day` ("YYYY-MM-DD") in `days`, kept newest first: the
// engines count claims and stores apart and meet here.
inline void AddDayCount(std::vector<DayActivity>& days, std::string day, std::uint64_t count,
                        bool claims) {
  auto it = days.begin();
  while (it != days.end() && it->day > day) ++it;
  if (it == days.end() || it->day != day) it = days.insert(it, DayActivity{std::move(day)});
  (claims ? it->claims : it->stores) += count;
}

}  // namespace heartpage::server
