#pragma once

// The services object of the window tests: fakes that do nothing unless a
// test gives them something to do.
#include <QStandardPaths>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "net/form_post.h"
#include "preview/preview.h"
#include "protocol/host.h"
#include "publish/client_services.h"

namespace heartpage::testing {

// No server answers, the machine is "test-machine", nothing opens, notices
// go unread, the program may always end, no file is chosen, what is to
// happen later happens at once, previews have no folder of their own, and
// drafts go to the test program's data folder.
inline ClientServices QuietServices() {
  ClientServices services;
  services.post = [](const std::string&, const PostLimits&) { return PostResult{}; };
  services.machine_id = [] { return std::string("test-machine"); };
  services.open_target = [](const std::string&) { return false; };
  services.show_notice = [](const Notice&) {};
  services.confirm_quit = [] { return true; };
  services.choose_files = [](MediaKind, bool) { return std::vector<std::string>(); };
  services.later = [](std::chrono::milliseconds, std::function<void()> then) { then(); };
  services.preview_directory = [] { return std::filesystem::path(); };
  // The test program's own data folder (see qt_environment.h).
  services.draft_directory =
      QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString() + "/drafts";
  return services;
}

// The publishing server of the environment (HEARTPAGE_HOST), as the program
// reaches it.
inline EndpointPost RealEndpoint() {
  return [](const std::string& body, const PostLimits& limits) {
    return PostFormChecked(EndpointAddress(), body, limits);
  };
}

// Previews of the windows made on `services` from now on open, wait and
// are written as `hooks` say; an unset wait keeps the services' own.
inline void UsePreview(ClientServices& services, const PreviewHooks& hooks) {
  services.open_target = hooks.open;
  if (hooks.wait) services.later = hooks.wait;
  services.preview_directory = hooks.directory;
}

}  // namespace heartpage::testing
