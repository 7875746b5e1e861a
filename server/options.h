#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "server/http/http_server.h"
#include "server/storage/storage.h"

namespace heartpage::server {

struct Options {
  ServerConfig server;
  std::filesystem::path data_dir;  // for SQLite; empty with a database
  // A PostgreSQL database that several servers share, instead of SQLite.
  std::string database;
  std::size_t database_connections = 4;
  // A SQLite data folder to copy into `database`, after which we end.
  std::filesystem::path import_sqlite;
  SiteSettings settings;                               // the fields given on the command line
  std::uint64_t max_storage = std::uint64_t{1} << 30;  // pages' bytes in all
  std::size_t page_cache_bytes = 64 * 1024 * 1024;
  std::size_t page_files = 0;  // 0: sized from the descriptor limit
  bool help = false;
  bool version = false;
};

struct OptionsError {
  std::string message;
};

// --help's text, made from the table of options.
const std::string& Usage();
// Every option's name ("--data" …), in the order the usage lists them.
std::vector<std::string_view> OptionNames();
// Whether the option says where the database is, which the operator's tools
// take as the server does.
bool IsStorageOption(std::string_view name);
// "heartpage-server VERSION", the version of the packages.
extern const char* const kVersion;

// `environment` looks a variable up (std::getenv in the program), so that the
// defaults can be tested. The default assets folder is compiled in.
std::variant<Options, OptionsError> ParseOptions(
    const std::vector<std::string>& args,
    const std::function<const char*(const char*)>& environment);

// The page assets' folders when no --assets is given: an installed server's,
// PREFIX/share/heartpage-server/assets and assets-vendor beside its
// PREFIX/bin/heartpage-server, when they are there; else those of the source
// and build trees it was built in.
std::vector<std::filesystem::path> DefaultAssetDirs(const std::filesystem::path& executable);

// The maker in the browser's files and the styles' artwork, found as the
// assets are: an installed server's PREFIX/share/heartpage-server/maker and
// artwork, else the source tree's server/maker and publish/artwork.
struct MakerDirs {
  std::filesystem::path files;
  std::filesystem::path artwork;
};
MakerDirs DefaultMakerDirs(const std::filesystem::path& executable);

// The host:port that clients reach a server listening on `listen` at: the
// publishing host when `listen` is a wildcard address, otherwise empty, which
// stands for the bound address itself.
std::string PublicHost(const std::string& listen, const std::string& publishing_host);

}  // namespace heartpage::server
