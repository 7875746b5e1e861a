#include <algorithm>
#include <charconv>
#include <ctime>
#include <set>

#include "pages/styles.h"
#include "pages/templates.h"
#include "protocol/wire.h"
#include "server/admin/admin_args.h"
#include "server/admin/admin_commands.h"
#include "server/storage/utc_text.h"
#include "text/utf8.h"

namespace heartpage::server {
namespace {

constexpr std::size_t kReportsShown = 10;

// Midnight UTC of "YYYY-MM-DD", in seconds since the epoch.
std::optional<std::int64_t> DayStart(std::string_view text) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto number = [&](std::size_t at, std::size_t length, int& value) {
    const auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + length, value);
    return ec == std::errc() && end == text.data() + at + length;
  };
  if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day) || month < 1 ||
      month > 12 || day < 1 || day > 31)
    return std::nullopt;
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  return static_cast<std::int64_t>(timegm(&tm));
}

std::string Stored(const NameRecord& record) {
  return record.stored_at ? UtcText(*record.stored_at) : std::string("no page");
}

std::string Marks(const NameRecord& record) {
  std::string marks;
  if (record.withheld) marks += " [taken down]";
  if (record.owner_blocked) marks += " [owner blocked]";
  return marks;
}

// Which of the eight styles a page was built from, told by how many of the
// template's fixed stretches of text it holds; a page of no style holds few.
std::string StyleOf(std::string_view page) {
  int best = 0;
  double best_share = 0;
  for (int number = 1; number <= kStyleCount; ++number) {
    std::string_view rest = StyleTemplate(number);
    std::vector<std::string_view> keys;
    for (const FieldRow& row : GetStyle(number).rows) keys.push_back(row.key);
    std::size_t found = 0, stretches = 0;
    while (!rest.empty()) {
      std::size_t next = rest.size(), key_size = 0;
      for (const std::string_view key : keys)
        if (const std::size_t at = rest.find(key); at < next) next = at, key_size = key.size();
      const std::string_view stretch = rest.substr(0, next);
      if (stretch.size() >= 32) {
        ++stretches;
        if (page.find(stretch) != std::string_view::npos) ++found;
      }
      rest.remove_prefix(std::min(rest.size(), next + key_size));
    }
    const double share =
        stretches == 0 ? 0 : static_cast<double>(found) / static_cast<double>(stretches);
    if (share > best_share) best = number, best_share = share;
  }
  if (best_share < 0.5) return "none of the eight styles";
  return "style " + std::to_string(best) + (best_share < 1 ? " (changed in places)" : "");
}

// The uploaded files a page names, by their site address.
std::set<std::string> MediaNamed(std::string_view page) {
  std::set<std::string> names;
  for (std::size_t at = page.find(wire::kMediaPrefix); at != std::string_view::npos;
       at = page.find(wire::kMediaPrefix, at + 1)) {
    const std::size_t start = at + wire::kMediaPrefix.size();
    std::size_t end = start;
    while (end < page.size() && end - start < 80 &&
           (std::isalnum(static_cast<unsigned char>(page[end])) || page[end] == '.'))
      ++end;
    if (end - start > 65 && page[start + 64] == '.') names.emplace(page.substr(start, end - start));
  }
  return names;
}

int Outcome(AdminContext& context, AdminResult result, const std::string& done,
            const std::string& already, const std::string& unknown) {
  switch (result) {
    case AdminResult::kDone:
      std::fprintf(context.out, "%s\n", done.c_str());
      return kAdminDone;
    case AdminResult::kAlready:
      std::fprintf(context.out, "%s\n", already.c_str());
      return kAdminDone;
    case AdminResult::kUnknown:
      return AdminSay(context, kAdminFailed, unknown);
  }
  return kAdminFailed;
}

}  // namespace

int AdminList(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 0)) return kAdminMisused;
  std::int64_t since = 0;
  if (const auto text = args.Flag("--since")) {
    const auto start = DayStart(*text);
    if (!start) return AdminSay(context, kAdminMisused, "--since takes a date, YYYY-MM-DD");
    since = *start;
  }
  const std::string sort = args.Flag("--sort").value_or("time");
  if (sort == "views")
    return AdminSay(context, kAdminMisused,
                    "the server does not count views; sort by time or size");
  if (sort != "time" && sort != "size")
    return AdminSay(context, kAdminMisused, "--sort takes time or size");
  std::vector<NameRecord> names = context.storage.ListNames(since);
  if (sort == "size") std::ranges::stable_sort(names, std::greater<>{}, &NameRecord::size);
  std::fprintf(context.out, "%-30s  %-19s  %-19s  %9s\n", "NAME", "CLAIMED (UTC)", "STORED (UTC)",
               "BYTES");
  for (const NameRecord& record : names)
    std::fprintf(context.out, "%-30s  %-19s  %-19s  %9llu%s\n", Printable(record.name).c_str(),
                 Printable(record.claimed_at).c_str(), Stored(record).c_str(),
                 static_cast<unsigned long long>(record.size), Marks(record).c_str());
  return kAdminDone;
}

int AdminShow(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 1)) return kAdminMisused;
  const auto name = NameOperand(context, args.operands[0]);
  if (!name) return kAdminFailed;
  const std::optional<NameRecord> record = context.storage.FindName(*name);
  if (!record) return AdminSay(context, kAdminFailed, "no such name: " + *name);
  std::FILE* out = context.out;
  std::fprintf(out, "name:         %s%s\n", Printable(record->name).c_str(),
               Marks(*record).c_str());
  std::fprintf(out, "claimed:      %s UTC\n", Printable(record->claimed_at).c_str());
  std::fprintf(out, "owner:        %s\n", record->owner.hex().c_str());
  if (record->stored_at) {
    std::fprintf(out, "last stored:  %s UTC\n", UtcText(*record->stored_at).c_str());
    std::fprintf(out, "page size:    %llu bytes\n", static_cast<unsigned long long>(record->size));
  } else {
    std::fprintf(out, "page:         none stored%s\n",
                 context.storage.WasTakenDown(*name) ? " (taken down by its owner)" : "");
  }
  std::string other;
  for (const Claim& claim : context.storage.ClaimsOfMachine(record->owner))
    if (claim.name != record->name) other += " " + Printable(claim.name);
  std::fprintf(out, "owner's other names:%s\n", other.empty() ? " none" : other.c_str());
  if (const auto page = context.storage.LoadPage(*name)) {
    std::fprintf(out, "style:        %s\n", StyleOf(page->bytes).c_str());
    const std::set<std::string> media = MediaNamed(page->bytes);
    std::fprintf(out, "media:        %s\n", media.empty() ? "none" : "");
    for (const std::string& file : media) {
      const auto facts = context.storage.FindMedia(file);
      std::fprintf(
          out, "  %s  %s\n", Printable(file).c_str(),
          facts ? Printable(std::to_string(facts->size) + " bytes, " + facts->content_type).c_str()
                : "not stored");
    }
  }
  // Visitors' words: each report's first line, cut short; `admin reports
  // --page NAME` shows them whole.
  const std::vector<Report> reports = context.storage.ListReports(*name, kReportsShown);
  std::fprintf(out, "reports:      %s\n", reports.empty() ? "none" : "");
  for (const Report& report : reports) {
    std::string line = report.reason.substr(0, report.reason.find_first_of("\r\n"));
    if (line.size() > 100) line = line.substr(0, Utf8CutAt(line, 100)) + "...";
    std::fprintf(out, "  #%lld  %s  %s\n", static_cast<long long>(report.id),
                 UtcText(report.reported_at).c_str(), Printable(line).c_str());
  }
  return kAdminDone;
}

namespace {

// The four actions on one name share their words: NAME [--reason TEXT].
template <typename Act>
int ActOnName(AdminContext& context, const AdminArgs& args, bool reason_required, Act act) {
  if (!ExpectOperands(context, args, 1)) return kAdminMisused;
  const auto reason = ReasonOf(context, args, reason_required);
  if (!reason) return kAdminMisused;
  const auto name = NameOperand(context, args.operands[0]);
  if (!name) return kAdminFailed;
  return act(*name, *reason);
}

}  // namespace

int AdminTakedown(AdminContext& context, const AdminArgs& args) {
  return ActOnName(context, args, /*reason_required=*/true,
                   [&](const std::string& name, const std::string& reason) {
                     return Outcome(context, context.storage.WithholdPage(name, reason),
                                    name + " taken down", name + " was taken down already",
                                    "no such name: " + name);
                   });
}

int AdminRestore(AdminContext& context, const AdminArgs& args) {
  return ActOnName(context, args, /*reason_required=*/false,
                   [&](const std::string& name, const std::string& reason) {
                     return Outcome(context, context.storage.RestorePage(name, reason),
                                    name + " restored", name + " was not taken down",
                                    name + " was not taken down");
                   });
}

int AdminBlockOwner(AdminContext& context, const AdminArgs& args) {
  return ActOnName(context, args, /*reason_required=*/false,
                   [&](const std::string& name, const std::string& reason) {
                     return Outcome(context, context.storage.BlockOwner(name, reason),
                                    "the owner of " + name + " is blocked",
                                    "the owner of " + name + " was blocked already",
                                    "no such name: " + name);
                   });
}

int AdminUnblockOwner(AdminContext& context, const AdminArgs& args) {
  return ActOnName(context, args, /*reason_required=*/false,
                   [&](const std::string& name, const std::string& reason) {
                     return Outcome(context, context.storage.UnblockOwner(name, reason),
                                    "the owner of " + name + " is no longer blocked",
                                    "the owner of " + name + " was not blocked",
                                    "no such name: " + name);
                   });
}

}  // namespace heartpage::server
