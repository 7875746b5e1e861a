#include "machine/sources_linux.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "machine/disk_serial.h"
#include "tests/machine/identify_samples.h"
#include "tests/support/server_process.h"

namespace heartpage::machine {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A scratch copy of the places the Linux sources read.
class FakeSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_.sys_block = root_ / "sys/block";
    paths_.dev = root_ / "dev";
    paths_.udev_data = root_ / "run/udev/data";
    paths_.machine_id = root_ / "etc/machine-id";
    fs::create_directories(paths_.sys_block);
  }
  // A whole disk backed by a device, fixed, without a serial number yet.
  fs::path AddDisk(const std::string& name) {
    const fs::path dir = paths_.sys_block / name;
    fs::create_directories(dir / "device");
    Write(dir / "removable", "0\n");
    Write(dir / "dev", "8:" + std::to_string(++minor_) + "\n");
    Write(paths_.dev / name, "");  // a plain file: no disk answers identify requests here
    return dir;
  }

  std::vector<std::string> AllMedia() {
    std::vector<std::string> serials;
    LinuxSerialSources sources(paths_);
    sources.ForEachPhysicalMedium([&](const MediaSerial& serial) {
      serials.push_back(serial.value_or("<null>"));
      return true;
    });
    return serials;
  }

  heartpage::testing::TempDir scratch_;
  const fs::path root_ = scratch_.path();
  LinuxPaths paths_;
  int minor_ = 0;
};

TEST_F(FakeSystem, ChoosesDiskZeroByKindThenNumber) {
  for (const char* name :
       {"nvme0n1", "mmcblk0", "vda", "sdb", "sdaa", "sda", "hda", "nvme10n1", "nvme2n1"})
    AddDisk(name);
  EXPECT_EQ(ListPhysicalDisks(paths_),
            (std::vector<std::string>{"sda", "sdb", "sdaa", "hda", "vda", "nvme0n1", "nvme2n1",
                                      "nvme10n1", "mmcblk0"}));
}

TEST_F(FakeSystem, LeavesOutDevicesThatAreNotTheMachinesOwnDisks) {
  for (const char* name : {"loop0", "ram0", "zram0", "sr0", "fd0"}) AddDisk(name);
  fs::remove_all(AddDisk("dm-0") / "device");
  Write(AddDisk("sda") / "removable", "1\n");  // a memory stick
  AddDisk("vdb");
  EXPECT_EQ(ListPhysicalDisks(paths_), std::vector<std::string>{"vdb"});

  fs::remove_all(paths_.sys_block);
  EXPECT_TRUE(ListPhysicalDisks(paths_).empty());
}

TEST_F(FakeSystem, ListsDisksWithASerialInDiskOrder) {
  Write(AddDisk("nvme0n1") / "device/serial", "S4EWNX0R123456     \n");
  Write(AddDisk("sdb") / "device/serial", "ZA1B2C3D\n");
  AddDisk("sda");  // no serial anywhere: skipped
  Write(AddDisk("vda") / "device/serial", "ON-DEVICE");
  Write(paths_.sys_block / "vda/serial", "ON-BLOCK");
  Write(AddDisk("vdb") / "serial", "  VIRTIO-7\n");
  EXPECT_EQ(AllMedia(),
            (std::vector<std::string>{"ZA1B2C3D", "ON-DEVICE", "VIRTIO-7", "S4EWNX0R123456"}));
}

TEST_F(FakeSystem, AsksUdevWhenSysfsHasNoSerial) {
  AddDisk("sda");
  Write(paths_.udev_data / "b8:1",
        "S:disk/by-id/ata-WDC_WD10EZEX\nE:ID_SERIAL=WDC_WD10EZEX_WD-WCC4N1234567\n"
        "E:ID_SERIAL_SHORT=WD-WCC4N1234567\nG:systemd\n");
  EXPECT_EQ(AllMedia(), std::vector<std::string>{"WD-WCC4N1234567"});
}

TEST_F(FakeSystem, FallsBackToTheMachineIdThenFails) {
  Write(AddDisk("vda") / "serial", "\n");
  Write(paths_.machine_id, "3d1219c7c4c5404aaa1f6d2a48adfda4\n");
  EXPECT_EQ(AllMedia(), std::vector<std::string>{"3d1219c7c4c5404aaa1f6d2a48adfda4"});

  Write(paths_.machine_id, "\n");
  EXPECT_THROW(AllMedia(), std::runtime_error);
  fs::remove(paths_.machine_id);
  try {
    AllMedia();
    FAIL() << "no source, yet no error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("machine-id"), std::string::npos) << error.what();
  }
}

TEST_F(FakeSystem, UnreadableDiskFallsBackToItsSerial) {
  Write(AddDisk("sda") / "device/serial", "FROM-SYSFS");
  LinuxSerialSources sources(paths_);
  IdentifyRecord record;
  record.fill(0xFF);
  EXPECT_FALSE(sources.ReadIdentifyData(0, record));  // /dev/sda is a plain file here
  EXPECT_EQ(record, IdentifyRecord{});
  EXPECT_FALSE(sources.ReadIdentifyData(1, record));  // there is no second disk
  EXPECT_EQ(GetDiskSerial(sources), "FROM-SYSFS");

  fs::remove(paths_.dev / "sda");
  EXPECT_EQ(GetDiskSerial(sources), "FROM-SYSFS");
}

TEST(KernelIdentity, SerialGoesBackToTheDrivesByteOrder) {
  const std::vector<std::uint8_t> drive = testing::LoadIdentifySample("ata_order.hex");
  // What HDIO_GET_IDENTITY hands out: the same data with the text fields in
  // reading order.
  std::uint8_t kernel[512];
  std::copy(drive.begin(), drive.end(), kernel);
  for (std::size_t i = 20; i < 40; i += 2) std::swap(kernel[i], kernel[i + 1]);
  ASSERT_EQ(std::string(reinterpret_cast<char*>(kernel) + 20, 15), "WD-WCC4N1234567");

  const IdentifyRecord record = IdentifyRecordFromKernel(kernel);
  EXPECT_EQ(record, testing::RecordOf(drive));
  EXPECT_EQ(ExtractSerial(record), "DWW-CCN4214365 7");
}

TEST(AnsiConversion, ReadsCodePage936) {
  EXPECT_EQ(AnsiToUtf8(std::string("\xD6\xD0\0A", 4)), std::string("中\0A", 5));
}

TEST(ThisMachine, GivesTheSameIdentifierEveryTime) {
  std::string first, second;
  try {
    first = heartpage::GetDiskSerial();
  } catch (const std::runtime_error& error) {
    EXPECT_THROW(heartpage::GetDiskSerial(), std::runtime_error);
    GTEST_SKIP() << "this machine has no identifier: " << error.what();
  }
  second = heartpage::GetDiskSerial();
  EXPECT_EQ(first, second);
}

}  // namespace
}  // namespace heartpage::machine
