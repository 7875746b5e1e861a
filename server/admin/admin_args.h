#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/admin/admin.h"

namespace heartpage::server {

// A subcommand's words: its operands, and the values of the flags it takes
// (each "--flag VALUE"). `problem` names the first word that does not fit.
struct AdminArgs {
  std::vector<std::string> operands;
  std::map<std::string, std::string, std::less<>> flags;
  std::string problem;

  std::optional<std::string> Flag(std::string_view name) const {
    const auto it = flags.find(name);
    if (it == flags.end()) return std::nullopt;
    return it->second;
  }
};

// The flags a subcommand takes are the "--flag" words of its synopsis, so
// that its usage line cannot promise one it refuses, nor hide one it takes.
AdminArgs ParseAdminArgs(std::span<const std::string> args, std::string_view synopsis);

// Reasons go into the log as the operator gave them, bounded so that the log
// stays readable.
inline constexpr std::size_t kMaxReasonBytes = 500;

// A line on the context's error stream; answers `code`.
int AdminSay(AdminContext& context, int code, const std::string& line);

// Checks a subcommand's words: exactly `operands` operands and valid flags.
// Otherwise says why and answers false.
bool ExpectOperands(AdminContext& context, const AdminArgs& args, std::size_t operands);

// The reason of an action: --reason, required or not; a line says what is
// wrong and std::nullopt comes back when it is missing or too long.
std::optional<std::string> ReasonOf(AdminContext& context, const AdminArgs& args, bool required);

// Text from the database as the tools print it: every control character
// (C0, DEL, C1), every character that turns the direction of text, a line
// or paragraph separator and every byte that is no UTF-8 written as an
// escape (\r, \x1b, \u202e), and the backslash doubled, so that nothing a
// stranger wrote can move the operator's cursor, reorder a line or pass for
// an escape.
std::string Printable(std::string_view text);

// A page name as the site keys it, or std::nullopt (with a line) for one the
// site could not have.
std::optional<std::string> NameOperand(AdminContext& context, std::string_view name);

}  // namespace heartpage::server
