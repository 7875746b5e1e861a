#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The copies of the publishing host's page assets (scripts, style sheets,
// pictures) that the program carries with it, so that a preview made while
// the host cannot be reached still runs its scripts and shows its pictures.
// Music and video are not carried (they are most of the assets' bytes); an
// installed server's full set of assets is used too where there is one.
namespace heartpage {

class CarriedAssets {
 public:
  // Searched in order; folders that do not exist are passed over. A folder
  // is read once, on the first use.
  explicit CarriedAssets(std::vector<std::filesystem::path> folders);

  // `page` with every address under `origin`'s asset prefix that has a
  // carried copy replaced by that copy's file address; addresses without one
  // are left as they are (the browser finds them once the host answers).
  std::string Localize(std::string_view page, std::string_view origin) const;

  // The file that an asset path ("fg2/js/garden.js", as a page names it
  // after the prefix) stands for; letter case is ignored, as the host does.
  std::filesystem::path Find(std::string_view path) const;

 private:
  void Index() const;

  std::vector<std::filesystem::path> folders_;
  mutable std::once_flag indexed_;
  // Relative paths in small letters, '/'-separated.
  mutable std::map<std::string, std::filesystem::path, std::less<>> files_;
};

// Where the program's carried assets are, for a program in `program_folder`:
// beside an installed program (PREFIX/share/heartpage, then an installed
// server's PREFIX/share/heartpage-server), else the source tree's and the
// build's asset folders.
std::vector<std::filesystem::path> CarriedAssetFolders(const std::filesystem::path& program_folder);

// A file's address for a browser: "file://" and the absolute path, every
// byte outside the unreserved ones and '/' percent-encoded.
std::string FileAddress(const std::filesystem::path& file);

}  // namespace heartpage
