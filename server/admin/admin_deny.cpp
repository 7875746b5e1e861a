#include <ctime>

#include "server/admin/admin_args.h"
#include "server/admin/admin_commands.h"
#include "server/site/policy/deny_check.h"

namespace heartpage::server {

int AdminDeny(AdminContext& context, const AdminArgs& args) {
  if (!args.problem.empty()) return AdminSay(context, kAdminMisused, args.problem);
  const std::vector<std::string>& operands = args.operands;
  if (operands.size() == 1 && operands[0] == "list") {
    const std::vector<DenyEntry> list = context.storage.DeniedList();
    if (list.empty()) std::fputs("nothing is denied\n", context.out);
    for (const DenyEntry& entry : list)
      std::fprintf(context.out, "%s %s\n", std::string(DenyKindName(entry.kind)).c_str(),
                   Printable(entry.value).c_str());
    return kAdminDone;
  }
  if (operands.size() != 3 || (operands[0] != "add" && operands[0] != "remove"))
    return AdminSay(context, kAdminMisused, "deny takes add|remove host|word VALUE, or list");
  if (operands[1] != "host" && operands[1] != "word")
    return AdminSay(context, kAdminMisused, "deny " + operands[0] + " takes host or word");
  const auto reason = ReasonOf(context, args, /*required=*/false);
  if (!reason) return kAdminMisused;
  const DenyKind kind = operands[1] == "host" ? DenyKind::kHost : DenyKind::kWord;
  const std::optional<std::string> value = NormalizeDenied(kind, operands[2]);
  if (!value)
    return AdminSay(context, kAdminMisused,
                    "not a " + operands[1] + " that pages could be refused for: " + operands[2]);
  const std::string what = operands[1] + " " + *value;
  if (operands[0] == "add") {
    if (!context.storage.AddDenied({kind, *value}, std::time(nullptr))) {
      std::fprintf(context.out, "%s was denied already\n", what.c_str());
      return kAdminDone;
    }
    context.storage.LogAdminAction("deny add", what, *reason);
    std::fprintf(context.out, "%s denied: pages naming it are refused from now on\n", what.c_str());
    return kAdminDone;
  }
  if (!context.storage.RemoveDenied({kind, *value}))
    return AdminSay(context, kAdminFailed, what + " is not on the deny list");
  context.storage.LogAdminAction("deny remove", what, *reason);
  std::fprintf(context.out, "%s no longer denied\n", what.c_str());
  return kAdminDone;
}

}  // namespace heartpage::server
