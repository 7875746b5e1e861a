#pragma once

// Linux has neither the SMART device nor the management service, so the
// identifier comes from what the kernel exposes: drive 0's identify data
// through HDIO_GET_IDENTITY, and in place of the list of physical media the
// serial numbers under /sys/block, then the installation's machine-id.

#include <filesystem>
#include <string>
#include <vector>

#include "machine/serial_core.h"

namespace heartpage::machine {

// Where the sources live; tests point these into a scratch tree.
struct LinuxPaths {
  std::filesystem::path sys_block = "/sys/block";
  std::filesystem::path dev = "/dev";
  std::filesystem::path udev_data = "/run/udev/data";
  std::filesystem::path machine_id = "/etc/machine-id";
};

// The physical disks listed in `paths.sys_block`, drive 0 first: sd*, hd*,
// vd*, nvme*, then any other disk backed by a device, each kind in the order
// the kernel numbers them (sdb before sdaa). Loop, RAM, compressed-RAM and
// optical devices, removable media and virtual devices without a backing
// device are left out.
std::vector<std::string> ListPhysicalDisks(const LinuxPaths& paths);

// The kernel hands out the identify data with its text fields already in
// reading order; this puts the serial field back in the drive's own byte
// order, as the SMART interface reports it.
IdentifyRecord IdentifyRecordFromKernel(const std::uint8_t (&identity)[512]);

class LinuxSerialSources : public SerialSources {
 public:
  explicit LinuxSerialSources(LinuxPaths paths = {}) : paths_(std::move(paths)) {}

  bool ReadIdentifyData(std::uint8_t drive, IdentifyRecord& record) override;

  // One entry per physical disk that has a serial number (its device's
  // `serial`, else the block device's own, else udev's ID_SERIAL_SHORT); when
  // no disk has one, the single entry is the machine-id. Throws when there is
  // neither.
  void ForEachPhysicalMedium(const std::function<bool(const MediaSerial&)>& visit) override;

 private:
  LinuxPaths paths_;
};

}  // namespace heartpage::machine
