#pragma once

#include <filesystem>
#include <functional>
#include <string>

// The data folder holds the database and the key that hashes machine
// identifiers: nothing in it is any other local user's business.
namespace heartpage::server {

using Note = std::function<void(const std::string&)>;

// Creates `dir` (mode 0700) when missing. An existing folder loses every
// right of other users, and so does each file in it; each change is noted.
// Throws std::runtime_error for a folder shared by design (sticky, like
// /tmp) or one whose mode cannot be changed.
void MakePrivateDataDir(const std::filesystem::path& dir, const Note& note);

// The key kept in `file`; when there is none, a new random key is written
// there first (mode 0600, on disk before it is used) and noted. Throws
// std::runtime_error for a file that does not hold a key.
std::string LoadOrCreateKey(const std::filesystem::path& file, const Note& note);

}  // namespace heartpage::server
