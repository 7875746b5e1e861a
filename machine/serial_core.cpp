#include "machine/serial_core.h"
#include "text/utf8.h"

#include <stdexcept>

namespace heartpage::machine {

std::string TrimSpaces(std::string_view text) {
  return std::string(Trimmed(text, " "));
}

std::string ExtractSerial(const IdentifyRecord& record) {
  const std::string_view field(reinterpret_cast<const char*>(record.data()) + kSerialOffset,
                               kSerialLength);
  return TrimSpaces(AnsiToUtf8(field));
}

std::string GetDiskSerial(SerialSources& sources) {
  IdentifyRecord record{};
  // A drive that answers settles the matter, even with a blank serial field:
  // asking the fallback then would give the same machine two identities.
  if (sources.ReadIdentifyData(0, record)) return ExtractSerial(record);

  std::optional<MediaSerial> first;
  sources.ForEachPhysicalMedium([&first](const MediaSerial& serial) {
    first = serial;
    return false;
  });
  if (!first) return {};
  if (!*first) {
    throw std::runtime_error(
        "The first physical disk of this machine reports no serial number, so the machine "
        "cannot be identified.");
  }
  return TrimSpaces(**first);
}

void PrepareCommandBlock(CommandBlock& block, std::uint8_t command, std::uint8_t drive) {
  block[9] = static_cast<std::uint8_t>(0xA0 | ((drive & 1) << 4));  // drive/head register
  block[10] = command;
  block[11] = drive;
}

std::optional<DiskDevice> DiskDeviceFor(std::uint32_t platform_family, std::uint8_t drive) {
  constexpr std::uint32_t kGenericReadWrite = 0xC0000000;
  switch (platform_family) {
    case kPlatformNt:
      if (drive >= 4) return std::nullopt;
      return DiskDevice{R"(\\.\PhysicalDrive)" + std::to_string(drive), kGenericReadWrite};
    default:
      return std::nullopt;
  }
}

}  // namespace heartpage::machine
