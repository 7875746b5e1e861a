#pragma once

// The sources of the identifier on Windows: drive 0's identify data through
// the SMART interface, then the management service's list of physical media.

#include "machine/serial_core.h"

namespace heartpage::machine {

// The platform family from the operating system's version record.
std::uint32_t PlatformFamily();

class WindowsSerialSources : public SerialSources {
 public:
  bool ReadIdentifyData(std::uint8_t drive, IdentifyRecord& record) override;

  // Win32_PhysicalMedia instances through the management service's scripting
  // interface; a null SerialNumber is handed on as nullopt.
  void ForEachPhysicalMedium(const std::function<bool(const MediaSerial&)>& visit) override;
};

}  // namespace heartpage::machine
