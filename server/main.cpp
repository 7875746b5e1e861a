#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "net/host.h"
#include "server/http_server.h"
#include "server/options.h"
#include "server/sqlite_storage.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "heartpage-server: %s\n", message.c_str());
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
    std::filesystem::create_directories(options.data_dir);
    const std::filesystem::path database = options.data_dir / "heartpage.sqlite3";
    SqliteStorage storage(database);
    if (options.settings.announcement || options.settings.version_label ||
        options.settings.download_url)
      storage.UpdateSettings(options.settings);

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
