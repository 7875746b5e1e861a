#pragma once

#include <filesystem>

namespace heartpage::server {

// The running program's own file, its links resolved; empty when the system
// does not tell.
std::filesystem::path ExecutablePath();

}  // namespace heartpage::server
