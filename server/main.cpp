#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocol/host.h"
#include "server/admin/admin.h"
#include "server/admin/sqlite_import.h"
#include "server/http/descriptors.h"
#include "server/http/http_server.h"
#include "server/options.h"
#include "server/storage/caching_storage.h"
#include "server/storage/data_dir.h"
#include "server/storage/postgres/pg_storage.h"
#include "server/storage/sqlite/sqlite_storage.h"

namespace {

// One server per data directory: the page cache relies on being the only
// writer. The lock goes with the process, however it ends.
bool LockDataDir(const std::filesystem::path& dir) {
  const int fd = open((dir / "heartpage.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
}

void Say(const std::string& message) {
  std::fprintf(stderr, "heartpage-server: %s\n", message.c_str());
}

int Fail(const std::string& message) {
  Say(message);
  return 1;
}

using namespace heartpage::server;

// The store of a data folder, which this process then holds alone.
std::unique_ptr<SqliteStorage> OpenDataFolder(const std::filesystem::path& dir,
                                              const StorageOptions& storage_options = {}) {
  MakePrivateDataDir(dir, Say);
  if (!LockDataDir(dir))
    throw StorageError(dir.string() + " is in use by another heartpage-server");
  return std::make_unique<SqliteStorage>(dir / "heartpage.sqlite3",
                                         LoadOrCreateKey(dir / "machine-id.key", Say),
                                         storage_options, Say);
}

int Import(const Options& options) {
  auto source = OpenDataFolder(options.import_sqlite);
  const ImportCounts counts = ImportSqlite(*source, options.database, Say);
  std::printf(
      "imported %s into %s: %zu settings, %zu claims (%zu already there, %zu held there by "
      "another machine and left out), %zu pages (%zu already there, %zu left out)\n",
      options.import_sqlite.c_str(), RedactedUri(options.database).c_str(), counts.settings,
      counts.claims, counts.claims_present, counts.claims_conflicting, counts.pages,
      counts.pages_present, counts.pages_left);
  return 0;
}

// The database the options name, ready to serve, and what to call it in the
// log.
std::pair<std::unique_ptr<Storage>, std::string> OpenStorage(Options& options) {
  if (!options.database.empty()) {
    // Half the connections read and half write: unlike SQLite, PostgreSQL
    // lets stores of different pages proceed together.
    const auto connections = static_cast<unsigned>(options.database_connections);
    options.server.storage_writers = connections / 2;
    options.server.storage_readers = connections - connections / 2;
    auto storage = std::make_unique<PostgresStorage>(
        options.database,
        StorageOptions{.page_byte_limit = options.max_storage,
                       .connections = options.database_connections},
        Say);
    return {std::move(storage), RedactedUri(options.database)};
  }
  // Whatever the server creates (the database and its journal among it) is
  // for its own user alone.
  umask(0077);
  // SQLite lets one transaction write at a time, but a store spends most of
  // its time before its transaction (the page's check, its compression): a
  // second writer does that for the next store meanwhile, on the other core.
  options.server.storage_writers = std::max(options.server.storage_writers, 2u);
  // One connection for each storage thread, opened before any client can
  // hold the descriptors they need.
  auto storage = OpenDataFolder(options.data_dir, {.page_byte_limit = options.max_storage,
                                                   .connections = options.server.storage_readers +
                                                                  options.server.storage_writers});
  return {std::move(storage), (options.data_dir / "heartpage.sqlite3").string()};
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  // Bodies grow and go all the time: large ones are mapped on their own and
  // given back to the system when freed, instead of staying with the
  // allocator, so that the body budget bounds what the process holds. A
  // page's store (some 75 KB of codes, 25 KB of page) stays below the line:
  // mapping, faulting in and unmapping its buffers cost an eighth of its CPU.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  if (argc > 1 && std::string_view(argv[1]) == "admin")
    return RunAdmin(std::vector<std::string>(argv + 2, argv + argc), std::getenv);
  auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), std::getenv);
  if (auto* error = std::get_if<OptionsError>(&parsed)) {
    std::fprintf(stderr, "heartpage-server: %s\n%s", error->message.c_str(), Usage().c_str());
    return 2;
  }
  Options& options = std::get<Options>(parsed);
  if (options.help) {
    std::fputs(Usage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs(kVersion, stdout);
    return 0;
  }
  try {
    if (!options.import_sqlite.empty()) return Import(options);
  } catch (const std::exception& error) {
    return Fail(std::string("import failed, nothing was copied: ") + error.what());
  }
  const std::size_t descriptors = RaiseDescriptorLimit();
  if (options.page_files == 0) options.page_files = DefaultPageFiles(descriptors);
  if (options.server.max_connections == 0)
    options.server.max_connections = DefaultMaxConnections(descriptors, options.page_files);
  else if (options.server.max_connections + options.page_files >= descriptors)
    Say("--max-connections " + std::to_string(options.server.max_connections) +
        " is more than the descriptor limit of " + std::to_string(descriptors) +
        " allows; connections past it are turned away as they come");
  if (options.server.max_body > options.server.max_body_memory / 8 * 7)
    Say("--max-body is more than a page may take of --max-body-memory (seven eighths); "
        "bodies past that get 503");
  try {
    auto [database, description] = OpenStorage(options);
    if (options.settings.announcement || options.settings.version_label ||
        options.settings.download_url)
      database->UpdateSettings(options.settings);
    CachingStorage cache(*database, options.page_cache_bytes, options.page_files);

    if (options.server.public_host.empty())
      options.server.public_host = PublicHost(options.server.listen, heartpage::PublishingHost());
    HttpServer server(options.server, cache.Serving());
    std::fprintf(stderr, "heartpage-server: listening on %s://%s/ (database %s)\n",
                 std::string(server.Scheme()).c_str(), server.LocalAddress().c_str(),
                 description.c_str());
    server.Run();
    std::fprintf(stderr, "heartpage-server: stopped\n");
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
  return 0;
}
