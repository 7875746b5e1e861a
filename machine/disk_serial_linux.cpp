#include <fcntl.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <tuple>

#include "machine/disk_serial.h"
#include "machine/serial_core.h"
#include "machine/sources_linux.h"
#include "text/gbk.h"
#include "text/utf8.h"

namespace heartpage {
namespace machine {

std::string AnsiToUtf8(std::string_view bytes) {
  // Code page 936 is the ANSI code page of the systems whose identifiers the
  // server holds; ASCII and zero bytes map to themselves.
  return FromGbk(bytes);
}

namespace {

namespace fs = std::filesystem;

// The contents of a small text file without surrounding white space, or the
// empty text when it cannot be read.
std::string ReadValue(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream content;
  content << in.rdbuf();
  return std::string(Trimmed(content.str()));
}

bool StartsWith(std::string_view name, std::string_view prefix) {
  return name.substr(0, prefix.size()) == prefix;
}

// Preference of a disk's kind when choosing drive 0; nullopt for devices that
// are never a machine's own disk.
std::optional<int> DiskRank(std::string_view name) {
  for (std::string_view skipped : {"loop", "ram", "zram", "sr", "fd"})
    if (StartsWith(name, skipped)) return std::nullopt;
  int rank = 0;
  for (std::string_view preferred : {"sd", "hd", "vd", "nvme"}) {
    if (StartsWith(name, preferred)) return rank;
    ++rank;
  }
  return rank;
}

std::string UdevSerial(const LinuxPaths& paths, const fs::path& disk) {
  const std::string numbers = ReadValue(disk / "dev");
  if (numbers.empty()) return {};
  std::ifstream in(paths.udev_data / ("b" + numbers));
  constexpr std::string_view kKey = "E:ID_SERIAL_SHORT=";
  for (std::string line; std::getline(in, line);)
    if (StartsWith(line, kKey))
      return std::string(Trimmed(std::string_view(line).substr(kKey.size())));
  return {};
}

std::string DiskSerial(const LinuxPaths& paths, const std::string& name) {
  const fs::path disk = paths.sys_block / name;
  // NVMe and SCSI devices carry it on the device, virtio disks on the block
  // device itself; udev has it for most others.
  for (const fs::path& file : {disk / "device" / "serial", disk / "serial"}) {
    std::string serial = ReadValue(file);
    if (!serial.empty()) return serial;
  }
  return UdevSerial(paths, disk);
}

}  // namespace

std::vector<std::string> ListPhysicalDisks(const LinuxPaths& paths) {
  std::vector<std::tuple<int, std::size_t, std::string>> disks;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(paths.sys_block, error)) {
    std::string name = entry.path().filename().string();
    const std::optional<int> rank = DiskRank(name);
    if (!rank) continue;
    // Without a backing device it is a virtual device (device mapper, RAID,
    // ...); a removable medium would change the identity when plugged in.
    std::error_code ignored;
    if (!fs::exists(entry.path() / "device", ignored)) continue;
    if (ReadValue(entry.path() / "removable") == "1") continue;
    if (ReadValue(entry.path() / "hidden") == "1") continue;  // one path of a multipath disk
    const std::size_t length = name.size();
    disks.emplace_back(*rank, length, std::move(name));
  }
  std::sort(disks.begin(), disks.end());
  std::vector<std::string> names;
  for (auto& disk : disks) names.push_back(std::move(std::get<2>(disk)));
  return names;
}

IdentifyRecord IdentifyRecordFromKernel(const std::uint8_t (&identity)[512]) {
  IdentifyRecord record{};
  std::copy_n(identity, record.size(), record.begin());
  for (std::size_t i = kSerialOffset; i < kSerialOffset + kSerialLength; i += 2)
    std::swap(record[i], record[i + 1]);
  return record;
}

bool LinuxSerialSources::ReadIdentifyData(std::uint8_t drive, IdentifyRecord& record) {
  record.fill(0);
  const std::vector<std::string> disks = ListPhysicalDisks(paths_);
  if (drive >= disks.size()) return false;
  const fs::path device = paths_.dev / disks[drive];
  const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  std::uint8_t identity[512] = {};
  const bool read = ::ioctl(fd, HDIO_GET_IDENTITY, identity) == 0;
  ::close(fd);
  if (read) record = IdentifyRecordFromKernel(identity);
  return read;
}

void LinuxSerialSources::ForEachPhysicalMedium(
    const std::function<bool(const MediaSerial&)>& visit) {
  bool any = false;
  for (const std::string& name : ListPhysicalDisks(paths_)) {
    const std::string serial = DiskSerial(paths_, name);
    if (serial.empty()) continue;
    any = true;
    if (!visit(serial)) return;
  }
  if (any) return;
  // Virtual machines and containers often show no disk serial at all; the
  // machine-id at least stays the same for the life of the installation.
  const std::string machine_id = ReadValue(paths_.machine_id);
  if (machine_id.empty()) {
    throw std::runtime_error(
        "This machine cannot be identified: no disk reports a serial number and " +
        paths_.machine_id.string() + " cannot be read.");
  }
  visit(machine_id);
}

}  // namespace machine

std::string GetDiskSerial() {
  machine::LinuxSerialSources sources;
  return machine::GetDiskSerial(sources);
}

}  // namespace heartpage
