#include <iostream>
#include <stdexcept>

#include "app/cli/arguments.h"
#include "app/cli/commands.h"
#include "machine/disk_serial.h"

namespace heartpage::cli {

int MachineId(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("takes no arguments");
  try {
    std::cout << GetDiskSerial() << '\n';
    return 0;
  } catch (const std::runtime_error& error) {
    std::cerr << "heartpage-cli machine-id: " << error.what() << '\n';
    return 1;
  }
}

}  // namespace heartpage::cli
