#include <iostream>
#include <optional>
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

std::optional<std::string> TakeMachineId(std::string_view command, std::vector<std::string>& args) {
  std::string given;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--machine-id") continue;
    if (i + 1 == args.size() || args[i + 1].empty()) throw UsageError("--machine-id needs a value");
    given = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
               args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    break;
  }
  return MachineIdFor(command, std::move(given));
}

}  // namespace heartpage::cli
