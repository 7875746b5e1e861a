#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "net/host.h"
#include "server/caching_storage.h"
#include "server/data_dir.h"
#include "server/http_server.h"
#include "server/options.h"
#include "server/sqlite_storage.h"

namespace {

constexpr std::size_t kPageCacheBytes = 64 * 1024 * 1024;

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

}  // namespace

int main(int argc, char** argv) {
  using namespace heartpage::server;
  std::signal(SIGPIPE, SIG_IGN);
  auto parsed = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), std::getenv);
  if (auto* error = std::get_if<OptionsError>(&parsed)) {
    std::fprintf(stderr, "heartpage-server: %s\n%s", error->message.c_str(), kUsage);
    return 2;
  }
  Options& options = std::get<Options>(parsed);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  try {
    // Whatever the server creates (the database and its journal among it) is
    // for its own user alone.
    umask(0077);
    MakePrivateDataDir(options.data_dir, Say);
    const std::filesystem::path database = options.data_dir / "heartpage.sqlite3";
    if (!LockDataDir(options.data_dir))
      return Fail(options.data_dir.string() + " is in use by another heartpage-server");
    SqliteStorage database_storage(database,
                                   LoadOrCreateKey(options.data_dir / "machine-id.key", Say), Say);
    if (options.settings.announcement || options.settings.version_label ||
        options.settings.download_url)
      database_storage.UpdateSettings(options.settings);
    CachingStorage storage(database_storage, kPageCacheBytes);

    options.server.public_host = PublicHost(options.server.listen, heartpage::PublishingHost());
    HttpServer server(options.server, storage);
    std::fprintf(stderr, "heartpage-server: listening on http://%s/ (database %s)\n",
                 server.LocalAddress().c_str(), database.c_str());
    server.Run();
    std::fprintf(stderr, "heartpage-server: stopped\n");
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
  return 0;
}
