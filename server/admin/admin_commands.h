#pragma once

#include <span>
#include <string>

#include "server/admin/admin.h"

// The subcommands the table in admin_commands.cpp names, each in the file of
// its concern.
namespace heartpage::server {

// admin_pages.cpp
int AdminList(AdminContext& context, std::span<const std::string> args);
int AdminShow(AdminContext& context, std::span<const std::string> args);
int AdminTakedown(AdminContext& context, std::span<const std::string> args);
int AdminRestore(AdminContext& context, std::span<const std::string> args);
int AdminBlockOwner(AdminContext& context, std::span<const std::string> args);
int AdminUnblockOwner(AdminContext& context, std::span<const std::string> args);

// admin_site.cpp
int AdminRemoveMedia(AdminContext& context, std::span<const std::string> args);
int AdminStats(AdminContext& context, std::span<const std::string> args);
int AdminBackup(AdminContext& context, std::span<const std::string> args);
int AdminLogCommand(AdminContext& context, std::span<const std::string> args);

// admin_reports.cpp, admin_deny.cpp
int AdminReports(AdminContext& context, std::span<const std::string> args);
int AdminDeny(AdminContext& context, std::span<const std::string> args);

}  // namespace heartpage::server
