#pragma once

#include <string>

#include "server/admin/admin_args.h"

// The subcommands the table in admin_commands.cpp names, each in the file of
// its concern.
namespace heartpage::server {

// admin_pages.cpp
int AdminList(AdminContext& context, const AdminArgs& args);
int AdminShow(AdminContext& context, const AdminArgs& args);
int AdminTakedown(AdminContext& context, const AdminArgs& args);
int AdminRestore(AdminContext& context, const AdminArgs& args);
int AdminBlockOwner(AdminContext& context, const AdminArgs& args);
int AdminUnblockOwner(AdminContext& context, const AdminArgs& args);

// admin_site.cpp
int AdminRemoveMedia(AdminContext& context, const AdminArgs& args);
int AdminStats(AdminContext& context, const AdminArgs& args);
int AdminBackup(AdminContext& context, const AdminArgs& args);
int AdminLogCommand(AdminContext& context, const AdminArgs& args);

// admin_reports.cpp, admin_deny.cpp
int AdminReports(AdminContext& context, const AdminArgs& args);
int AdminDeny(AdminContext& context, const AdminArgs& args);

}  // namespace heartpage::server
