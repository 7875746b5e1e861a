#pragma once

#include <optional>
#include <string>

#include "server/storage/storage_error.h"

namespace heartpage::server {

// Settings the operator chose; an empty field means "use the default",
// which depends on the address the server is reached at.
struct SiteSettings {
  std::optional<std::string> announcement;
  std::optional<std::string> version_label;
  std::optional<std::string> download_url;
};

// The settings row.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  virtual SiteSettings LoadSettings() = 0;
  // Changes only the fields that `changes` holds.
  virtual void UpdateSettings(const SiteSettings& changes) = 0;
};

}  // namespace heartpage::server
