#include <iostream>
#include <optional>
#include <stdexcept>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "machine/disk_serial.h"

namespace heartpage::cli {

int MachineId(const Arguments&) {
  try {
    std::cout << GetDiskSerial() << '\n';
    return 0;
  } catch (const std::runtime_error& error) {
    std::cerr << "heartpage-cli machine-id: " << error.what() << '\n';
    return 1;
  }
}

std::optional<std::string> MachineIdFor(std::string_view command, std::string given) {
  if (!given.empty()) return given;
  try {
    return GetDiskSerial();
  } catch (const std::runtime_error& error) {
    std::cerr << "heartpage-cli " << command << ": " << error.what()
              << "\n(give one with --machine-id ID)\n";
    return std::nullopt;
  }
}

}  // namespace heartpage::cli
