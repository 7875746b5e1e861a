#include "server/admin/admin_args.h"

#include <algorithm>
#include <ctime>

#include "protocol/page_name.h"

namespace heartpage::server {

AdminArgs ParseAdminArgs(std::span<const std::string> args,
                         std::initializer_list<std::string_view> flags) {
  AdminArgs parsed;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      parsed.operands.push_back(arg);
      continue;
    }
    if (std::ranges::find(flags, std::string_view(arg)) == flags.end()) {
      if (parsed.problem.empty()) parsed.problem = "unknown option " + arg;
      continue;
    }
    if (i + 1 >= args.size()) {
      if (parsed.problem.empty()) parsed.problem = arg + " needs a value";
      continue;
    }
    parsed.flags[arg] = args[++i];
  }
  return parsed;
}

int AdminSay(AdminContext& context, int code, const std::string& line) {
  std::fprintf(context.err, "heartpage-server admin: %s\n", line.c_str());
  return code;
}

bool ExpectOperands(AdminContext& context, const AdminArgs& args, std::size_t operands) {
  if (!args.problem.empty()) {
    AdminSay(context, kAdminMisused, args.problem);
    return false;
  }
  if (args.operands.size() != operands) {
    AdminSay(context, kAdminMisused,
             args.operands.size() < operands ? std::string("missing operand")
                                             : "unexpected operand " + args.operands[operands]);
    return false;
  }
  return true;
}

std::optional<std::string> ReasonOf(AdminContext& context, const AdminArgs& args, bool required) {
  std::string reason = args.Flag("--reason").value_or("");
  if (required && reason.find_first_not_of(" \t") == std::string::npos) {
    AdminSay(context, kAdminMisused, "--reason TEXT is required: the log keeps why");
    return std::nullopt;
  }
  if (reason.size() > kMaxReasonBytes) {
    AdminSay(context, kAdminMisused,
             "--reason is longer than " + std::to_string(kMaxReasonBytes) + " bytes");
    return std::nullopt;
  }
  return reason;
}

std::string AdminTime(std::int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&time, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::optional<std::string> NameOperand(AdminContext& context, std::string_view name) {
  if (!IsValidPageName(name)) {
    AdminSay(context, kAdminFailed, "no such name: " + std::string(name));
    return std::nullopt;
  }
  return PageNameKey(name);
}

}  // namespace heartpage::server
