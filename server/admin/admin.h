#pragma once

#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "server/storage/storage.h"

// `heartpage-server admin …`: the operator's tools, run beside the servers
// on the database they serve, never instead of them.
namespace heartpage::server {

// What a subcommand works with.
struct AdminContext {
  Storage& storage;
  // Where the database is, for what is told about it.
  std::string description;
  bool postgres = false;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

struct AdminArgs;

// A subcommand's words after its name, read by its synopsis. The exit codes:
// 0 done, 1 refused or failed (a line on `err` says why), 2 wrong use (the
// caller then prints the usage).
using AdminRun = int (*)(AdminContext& context, const AdminArgs& args);

struct AdminSubcommand {
  std::string_view name;
  // The synopsis line after "heartpage-server admin ", and one line of what
  // it does; the usage is made of these, and the options the subcommand
  // takes are those its synopsis names.
  std::string_view synopsis;
  std::string_view summary;
  AdminRun run;
};

// Every subcommand, in the order the usage lists them (admin_commands.cpp).
std::span<const AdminSubcommand> AdminSubcommands();

// The usage of every subcommand.
std::string AdminUsage();

// Runs `heartpage-server admin ARGS…`: --data/--database (and
// --database-connections) anywhere among them, or their defaults, then a
// subcommand. `environment` reads variables as ParseOptions does. Answers
// the process's exit code.
int RunAdmin(const std::vector<std::string>& args,
             const std::function<const char*(const char*)>& environment);

// Exit codes of the subcommands.
inline constexpr int kAdminDone = 0;
inline constexpr int kAdminFailed = 1;
inline constexpr int kAdminMisused = 2;

}  // namespace heartpage::server
