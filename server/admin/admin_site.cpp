#include <charconv>
#include <filesystem>

#include "server/admin/admin_args.h"
#include "server/admin/admin_commands.h"
#include "server/storage/utc_text.h"

namespace heartpage::server {
namespace {

bool IsSha256(std::string_view text) {
  return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::optional<int> Count(std::string_view text, int most) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > most)
    return std::nullopt;
  return value;
}

std::string Bytes(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes (" + std::to_string((bytes + (1 << 19)) >> 20) + " MB)";
}

}  // namespace

int AdminRemoveMedia(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 1)) return kAdminMisused;
  const auto reason = ReasonOf(context, args, /*required=*/false);
  if (!reason) return kAdminMisused;
  // The address of a file ends in its hash and an extension; either is taken.
  std::string hash = args.operands[0];
  if (const std::size_t slash = hash.rfind('/'); slash != std::string::npos)
    hash.erase(0, slash + 1);
  if (hash.size() > 64 && hash[64] == '.') hash.resize(64);
  for (char& c : hash)
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  if (!IsSha256(hash))
    return AdminSay(context, kAdminMisused, "not a SHA-256 (64 hex digits): " + args.operands[0]);
  switch (context.storage.RemoveMedia(hash, *reason)) {
    case AdminResult::kDone:
      std::fprintf(context.out, "%s removed; it is refused from now on\n", hash.c_str());
      return kAdminDone;
    case AdminResult::kAlready:
      std::fprintf(context.out, "%s was removed already\n", hash.c_str());
      return kAdminDone;
    case AdminResult::kUnknown:
      return AdminSay(context, kAdminFailed,
                      "no stored file has the hash " + hash + "; it is refused from now on");
  }
  return kAdminFailed;
}

int AdminStats(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 0)) return kAdminMisused;
  int days = 14;
  if (const auto text = args.Flag("--days")) {
    const auto count = Count(*text, 3660);
    if (!count) return AdminSay(context, kAdminMisused, "--days takes a number from 1 to 3660");
    days = *count;
  }
  const SiteFigures figures = context.storage.Figures(days);
  std::FILE* out = context.out;
  std::fprintf(out, "database:       %s\n", context.description.c_str());
  std::fprintf(out, "names claimed:  %llu\n", static_cast<unsigned long long>(figures.names));
  std::fprintf(out, "pages:          %llu, %s\n", static_cast<unsigned long long>(figures.pages),
               Bytes(figures.page_bytes).c_str());
  std::fprintf(out, "media files:    %llu, %s\n",
               static_cast<unsigned long long>(figures.media_files),
               Bytes(figures.media_bytes).c_str());
  std::fprintf(out, "taken down:     %llu\n", static_cast<unsigned long long>(figures.withheld));
  std::fprintf(out, "owners blocked: %llu\n",
               static_cast<unsigned long long>(figures.blocked_owners));
  // A page keeps only the time of its last store, so earlier stores of the
  // same page are not counted.
  std::fprintf(out, "per day (UTC), the last %d days:\n  %-10s  %7s  %7s\n", days, "DAY", "CLAIMS",
               "STORES");
  for (const DayActivity& day : figures.days)
    std::fprintf(out, "  %-10s  %7llu  %7llu\n", day.day.c_str(),
                 static_cast<unsigned long long>(day.claims),
                 static_cast<unsigned long long>(day.stores));
  const std::vector<AddressUsage> busiest = context.storage.BusiestAddresses(days, 10);
  if (!busiest.empty()) {
    std::fprintf(out, "busiest client addresses (bytes of media, previews and pages):\n");
    for (const AddressUsage& usage : busiest)
      std::fprintf(out, "  %-40s  %s\n", Printable(usage.address).c_str(),
                   Bytes(usage.bytes).c_str());
  }
  return kAdminDone;
}

int AdminLogCommand(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 0)) return kAdminMisused;
  int limit = 50;
  if (const auto text = args.Flag("--limit")) {
    const auto count = Count(*text, 100000);
    if (!count) return AdminSay(context, kAdminMisused, "--limit takes a number from 1 to 100000");
    limit = *count;
  }
  for (const AdminLogEntry& entry : context.storage.AdminLog(static_cast<std::size_t>(limit)))
    std::fprintf(context.out, "%s  %-14s %-30s %s\n", UtcText(entry.at).c_str(),
                 Printable(entry.action).c_str(), Printable(entry.target).c_str(),
                 Printable(entry.reason).c_str());
  return kAdminDone;
}

int AdminBackup(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 1)) return kAdminMisused;
  if (context.postgres)
    return AdminSay(context, kAdminFailed,
                    "a PostgreSQL database is copied with pg_dump (pg_dump -Fc -f FILE URI), "
                    "which reads a consistent copy while servers run");
  std::error_code ec;
  // A backup never replaces a file: the one named may be the last good copy.
  if (std::filesystem::exists(args.operands[0], ec))
    return AdminSay(context, kAdminFailed, args.operands[0] + " exists; name a new file");
  context.storage.Backup(args.operands[0]);
  context.storage.LogAdminAction("backup", args.operands[0], "");
  std::fprintf(context.out, "%s written\n", args.operands[0].c_str());
  return kAdminDone;
}

}  // namespace heartpage::server
