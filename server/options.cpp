#include "server/options.h"

#include <charconv>

#include "net/host.h"
#include "server/records.h"

namespace heartpage::server {

const char* const kUsage =
    "usage: heartpage-server [OPTIONS]\n"
    "Serves the HeartPage publishing site: the form endpoint /asp/index.asp, published\n"
    "pages under /Test/, page assets under /biaobai/, and the home and download pages.\n"
    "\n"
    "  --data DIR            where the database lives (default: $XDG_DATA_HOME/heartpage-server\n"
    "                        or ~/.local/share/heartpage-server); created when missing\n"
    "  --listen HOST:PORT    address to listen on (default: the publishing host, "
    "$HEARTPAGE_HOST\n"
    "                        or the compiled-in one); port 0 picks a free port\n"
    "  --assets DIR          page assets folder (default: the source tree's pages/assets, then\n"
    "                        the build's pages/assets-vendor); give it twice for a second\n"
    "                        folder searched after the first\n"
    "  --max-body BYTES      largest request body accepted (default 8388608; K and M suffixes)\n"
    "  --threads N           worker threads (default: one per core, 2 to 8)\n"
    "  --idle-timeout SECONDS  how long a connection may keep us waiting (default 60)\n"
    "  --announcement TEXT   announcement shown by clients at start-up     } stored in the\n"
    "  --version-label TEXT  version label of the current client (V1.0)   } database; they\n"
    "  --download-url URL    where clients download the current version   } persist\n"
    "  --help                this text\n";

namespace {

std::optional<std::size_t> ParseSize(std::string_view text) {
  std::size_t multiplier = 1;
  if (text.ends_with('K') || text.ends_with('k')) multiplier = 1024;
  if (text.ends_with('M') || text.ends_with('m')) multiplier = 1024 * 1024;
  if (multiplier != 1) text.remove_suffix(1);
  std::size_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value == 0) return std::nullopt;
  if (value > (std::size_t{1} << 40) / multiplier) return std::nullopt;
  return value * multiplier;
}

std::optional<std::string> CheckSetting(const std::string& option, const std::string& value) {
  if (SplitsRecord(value))
    return option +
           " must not contain \"い\" nor start with \"ゼ\", which separate the fields and rows"
           " of an answer";
  for (const char c : value)
    if (static_cast<unsigned char>(c) < 0x20)
      return option + " must not contain control characters";
  return std::nullopt;
}

}  // namespace

std::string PublicHost(const std::string& listen, const std::string& publishing_host) {
  const bool wildcard = listen.starts_with("0.0.0.0") || listen.starts_with("[::]") ||
                        listen.starts_with(":") || listen.starts_with("*");
  // Empty: the address the server ends up bound to (port 0 is only known then).
  return wildcard ? publishing_host : std::string();
}

std::variant<Options, OptionsError> ParseOptions(
    const std::vector<std::string>& args,
    const std::function<const char*(const char*)>& environment) {
  Options options;
  options.server.listen = PublishingHost();
  std::vector<std::filesystem::path> assets;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (i + 1 >= args.size()) {
      if (arg.starts_with("--")) return OptionsError{arg + " needs a value"};
      return OptionsError{"unexpected argument \"" + arg + "\""};
    }
    const std::string& value = args[++i];
    if (arg == "--data") {
      options.data_dir = value;
    } else if (arg == "--listen") {
      options.server.listen = value;
    } else if (arg == "--assets") {
      if (assets.size() == 2) return OptionsError{"--assets can be given at most twice"};
      assets.emplace_back(value);
    } else if (arg == "--max-body") {
      const std::optional<std::size_t> size = ParseSize(value);
      if (!size) return OptionsError{"--max-body needs a positive number of bytes"};
      options.server.max_body = *size;
    } else if (arg == "--idle-timeout") {
      unsigned seconds = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
      if (ec != std::errc() || end != value.data() + value.size() || seconds == 0 || seconds > 3600)
        return OptionsError{"--idle-timeout needs a number of seconds from 1 to 3600"};
      options.server.idle_timeout_seconds = seconds;
    } else if (arg == "--threads") {
      unsigned threads = 0;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), threads);
      if (ec != std::errc() || end != value.data() + value.size() || threads == 0 || threads > 64)
        return OptionsError{"--threads needs a number from 1 to 64"};
      options.server.threads = threads;
    } else if (arg == "--announcement" || arg == "--version-label" || arg == "--download-url") {
      if (auto problem = CheckSetting(arg, value)) return OptionsError{*problem};
      if (arg == "--announcement") options.settings.announcement = value;
      if (arg == "--version-label") options.settings.version_label = value;
      if (arg == "--download-url") options.settings.download_url = value;
    } else {
      return OptionsError{"unknown option \"" + arg + "\""};
    }
  }
  if (options.data_dir.empty()) {
    const char* xdg = environment("XDG_DATA_HOME");
    const char* home = environment("HOME");
    if (xdg != nullptr && *xdg == '/') {
      options.data_dir = std::filesystem::path(xdg) / "heartpage-server";
    } else if (home != nullptr && *home != '\0') {
      options.data_dir = std::filesystem::path(home) / ".local/share/heartpage-server";
    } else {
      return OptionsError{"no --data given and neither XDG_DATA_HOME nor HOME is set"};
    }
  }
  if (assets.empty()) {
    assets.emplace_back(HEARTPAGE_ASSETS_DIR);
    assets.emplace_back(HEARTPAGE_VENDOR_ASSETS_DIR);
  }
  options.server.asset_dirs = std::move(assets);
  return options;
}

}  // namespace heartpage::server
