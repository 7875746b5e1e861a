#include <charconv>
#include <ctime>

#include "protocol/page_name.h"
#include "server/admin/admin_args.h"
#include "server/admin/admin_commands.h"
#include "server/storage/utc_text.h"

namespace heartpage::server {
namespace {

constexpr std::size_t kDefaultListed = 50;

std::optional<std::int64_t> Number(std::string_view text) {
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

// A reason as the visitor wrote it, every line of it indented under its
// report, so that no line of a reason can pass for a report of its own.
void PrintReason(std::FILE* out, std::string_view reason) {
  for (std::size_t start = 0; start <= reason.size();) {
    std::size_t end = reason.find('\n', start);
    if (end == std::string_view::npos) end = reason.size();
    std::string_view line = reason.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    std::fprintf(out, "    %s\n", Printable(line).c_str());
    start = end + 1;
  }
}

}  // namespace

int AdminReports(AdminContext& context, const AdminArgs& args) {
  if (!ExpectOperands(context, args, 0)) return kAdminMisused;
  if (const auto dismiss = args.Flag("--dismiss")) {
    const auto id = Number(*dismiss);
    if (!id) return AdminSay(context, kAdminMisused, "--dismiss needs a report's number");
    if (!context.storage.DismissReport(*id))
      return AdminSay(context, kAdminFailed, "no report numbered " + *dismiss);
    context.storage.LogAdminAction("dismiss report", *dismiss, "");
    std::fprintf(context.out, "report %s dismissed\n", dismiss->c_str());
    return kAdminDone;
  }
  std::size_t limit = kDefaultListed;
  if (const auto given = args.Flag("--limit")) {
    const auto number = Number(*given);
    if (!number) return AdminSay(context, kAdminMisused, "--limit needs a positive number");
    limit = static_cast<std::size_t>(*number);
  }
  // A published page by its name in any letters; anything else as listed.
  std::string page = args.Flag("--page").value_or("");
  if (IsValidPageName(page)) page = PageNameKey(page);
  const std::vector<Report> reports = context.storage.ListReports(page, limit);
  if (reports.empty()) {
    std::fprintf(context.out, "no reports%s\n", page.empty() ? "" : (" of " + page).c_str());
    return kAdminDone;
  }
  for (const Report& report : reports) {
    std::fprintf(context.out, "#%lld  %s  %s\n", static_cast<long long>(report.id),
                 UtcText(report.reported_at).c_str(), Printable(report.page).c_str());
    PrintReason(context.out, report.reason);
  }
  return kAdminDone;
}

}  // namespace heartpage::server
