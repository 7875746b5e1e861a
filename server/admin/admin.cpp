#include "server/admin/admin.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <variant>

#include "server/admin/admin_args.h"
#include "server/options.h"
#include "server/storage/data_dir.h"
#include "server/storage/postgres/pg_connection.h"
#include "server/storage/postgres/pg_storage.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace heartpage::server {
namespace {

void Say(const std::string& message) {
  std::fprintf(stderr, "heartpage-server admin: %s\n", message.c_str());
}

// The options that say where the database is, wherever they stand among the
// words, since an operator adds them as the servers' unit file has them.
struct Split {
  std::vector<std::string> storage;
  std::vector<std::string> words;
};

Split SplitStorageOptions(const std::vector<std::string>& args) {
  Split split;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (IsStorageOption(arg) && i + 1 < args.size()) {
      split.storage.push_back(arg);
      split.storage.push_back(args[++i]);
    } else {
      split.words.push_back(arg);
    }
  }
  return split;
}

const AdminSubcommand* Find(std::string_view name) {
  for (const AdminSubcommand& subcommand : AdminSubcommands())
    if (subcommand.name == name) return &subcommand;
  return nullptr;
}

// The running servers hold the data folder's lock: the tools share the
// database with them through SQLite's own locking instead, as one more
// connection, and never create a data folder that is not there.
std::unique_ptr<Storage> OpenDataFolder(const std::filesystem::path& dir) {
  const std::filesystem::path file = dir / "heartpage.sqlite3";
  std::error_code ec;
  if (!std::filesystem::exists(file, ec))
    throw StorageError("no database in " + dir.string() + " (give --data or --database)");
  // A new key would hash every identifier differently from the database.
  if (!std::filesystem::exists(dir / "machine-id.key", ec))
    throw StorageError("no machine-id.key in " + dir.string() + "; restore it from the backup");
  // Run by root on the service's folder, the tools become the folder's
  // owner first: a journal file they created as root would lock the server
  // out of its own database.
  struct stat folder {};
  if (geteuid() == 0 && stat(dir.c_str(), &folder) == 0 && folder.st_uid != 0 &&
      (setgroups(0, nullptr) != 0 || setgid(folder.st_gid) != 0 || setuid(folder.st_uid) != 0))
    throw StorageError("cannot become the owner of " + dir.string());
  // Anything SQLite creates beside the database (its journal) stays private
  // as the server's own files are.
  umask(0077);
  return std::make_unique<SqliteStorage>(file, LoadOrCreateKey(dir / "machine-id.key", Say),
                                         StorageOptions{}, Say);
}

}  // namespace

std::string AdminUsage() {
  std::string usage =
      "usage: heartpage-server admin SUBCOMMAND [ARGS] [--data DIR | --database URI]\n"
      "The operator's tools, safe while servers run on the same database; running\n"
      "servers see each change within a second.\n";
  for (const AdminSubcommand& subcommand : AdminSubcommands()) {
    usage += "  ";
    usage += subcommand.synopsis;
    usage += "\n      ";
    usage += subcommand.summary;
    usage += '\n';
  }
  return usage;
}

int RunAdmin(const std::vector<std::string>& args,
             const std::function<const char*(const char*)>& environment) {
  const Split split = SplitStorageOptions(args);
  if (split.words.empty() || split.words.front() == "--help" || split.words.front() == "help") {
    const bool asked = !split.words.empty();
    std::fputs(AdminUsage().c_str(), asked ? stdout : stderr);
    return asked ? kAdminDone : kAdminMisused;
  }
  const AdminSubcommand* subcommand = Find(split.words.front());
  if (subcommand == nullptr) {
    Say("unknown subcommand " + split.words.front());
    std::fputs(AdminUsage().c_str(), stderr);
    return kAdminMisused;
  }
  auto parsed = ParseOptions(split.storage, environment);
  if (const auto* error = std::get_if<OptionsError>(&parsed)) {
    Say(error->message);
    return kAdminMisused;
  }
  const Options& options = std::get<Options>(parsed);
  try {
    std::unique_ptr<Storage> storage;
    std::string description;
    if (!options.database.empty()) {
      auto postgres = std::make_unique<PostgresStorage>(
          options.database, StorageOptions{.page_byte_limit = std::nullopt, .connections = 2}, Say);
      if (!postgres->Ready()) throw StorageError("cannot reach " + RedactedUri(options.database));
      storage = std::move(postgres);
      description = RedactedUri(options.database);
    } else {
      storage = OpenDataFolder(options.data_dir);
      description = (options.data_dir / "heartpage.sqlite3").string();
    }
    AdminContext context{*storage, description, !options.database.empty()};
    const std::vector<std::string> rest(split.words.begin() + 1, split.words.end());
    const int code = subcommand->run(context, ParseAdminArgs(rest, subcommand->synopsis));
    if (code == kAdminMisused)
      std::fprintf(stderr, "usage: heartpage-server admin %s\n",
                   std::string(subcommand->synopsis).c_str());
    return code;
  } catch (const std::exception& error) {
    Say(error.what());
    return kAdminFailed;
  }
}

}  // namespace heartpage::server
