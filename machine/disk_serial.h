#pragma once

#include <string>

namespace heartpage {

// The identifier of this machine, read afresh on every call. Throws
// std::runtime_error (with a message for the user) when no source can be read.
std::string GetDiskSerial();

}  // namespace heartpage
