#include "server/admin/admin_commands.h"

namespace heartpage::server {

std::span<const AdminSubcommand> AdminSubcommands() {
  static const AdminSubcommand kTable[] = {
      {"list", "list [--since YYYY-MM-DD] [--sort time|size]",
       "claimed names with their pages, oldest claim first (or largest page first); the "
       "server counts no views, so there is no order by them",
       AdminList},
      {"show", "show NAME",
       "one name: its claim, page, style, media, the owner's other names, reports", AdminShow},
      {"takedown", "takedown NAME --reason TEXT",
       "the page answers 451 and its owner cannot store it until restored", AdminTakedown},
      {"restore", "restore NAME [--reason TEXT]", "ends a takedown", AdminRestore},
      {"block-owner", "block-owner NAME [--reason TEXT]",
       "the machine that owns NAME may no longer claim, store, upload or preview", AdminBlockOwner},
      {"unblock-owner", "unblock-owner NAME [--reason TEXT]", "ends a block", AdminUnblockOwner},
      {"remove-media", "remove-media SHA256 [--reason TEXT]",
       "deletes an uploaded file and refuses it from then on", AdminRemoveMedia},
      {"stats", "stats [--days N]",
       "pages, media bytes, claims and stores per day (the last 14 days by default)", AdminStats},
      {"deny", "deny add|remove host|word VALUE [--reason TEXT] | deny list",
       "pages naming a denied host or containing a denied word are refused", AdminDeny},
      {"reports", "reports [--page NAME] [--limit N] | reports --dismiss NUMBER",
       "visitors' reports, newest first; --dismiss when dealt with", AdminReports},
      {"log", "log [--limit N]", "the operator's actions, newest first", AdminLogCommand},
      {"backup", "backup FILE", "a copy of the SQLite database, made while servers run",
       AdminBackup},
  };
  return kTable;
}

}  // namespace heartpage::server
