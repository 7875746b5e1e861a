// Runs on Windows or under wine. Neither lets an ordinary user read drive 0's
// identify data (wine has no SMART device at all), so these mostly exercise
// the management-service fallback against the real service.
#include "machine/sources_win.h"

#include <objbase.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "machine/disk_serial.h"

namespace heartpage::machine {
namespace {

TEST(WindowsSources, ReportsTheNtFamily) {
  EXPECT_EQ(PlatformFamily(), kPlatformNt);
}

TEST(WindowsSources, FailedIdentifyReadLeavesTheRecordZeroed) {
  WindowsSerialSources sources;
  IdentifyRecord record;
  record.fill(0xFF);
  if (sources.ReadIdentifyData(0, record)) GTEST_SKIP() << "drive 0 answered: nothing failed";
  EXPECT_EQ(record, IdentifyRecord{});
  EXPECT_FALSE(sources.ReadIdentifyData(4, record));  // only drives 0 to 3 have a device
}

TEST(WindowsSources, EnumerationStopsWhenAsked) {
  WindowsSerialSources sources;
  std::vector<MediaSerial> all;
  sources.ForEachPhysicalMedium([&all](const MediaSerial& serial) {
    all.push_back(serial);
    return true;
  });
  int visited = 0;
  sources.ForEachPhysicalMedium([&visited](const MediaSerial&) {
    ++visited;
    return false;
  });
  EXPECT_EQ(visited, all.empty() ? 0 : 1);
}

TEST(WindowsSources, IdentifierComesFromTheFirstMediumWhenTheDiskIsSilent) {
  WindowsSerialSources sources;
  IdentifyRecord record{};
  if (sources.ReadIdentifyData(0, record)) GTEST_SKIP() << "drive 0 answered";
  MediaSerial first;
  bool any = false;
  sources.ForEachPhysicalMedium([&](const MediaSerial& serial) {
    first = serial;
    any = true;
    return false;
  });
  if (any && !first) {
    EXPECT_THROW(heartpage::GetDiskSerial(), std::runtime_error);
    return;
  }
  const std::string expected = any ? TrimSpaces(*first) : "";
  EXPECT_EQ(heartpage::GetDiskSerial(), expected);
  EXPECT_EQ(heartpage::GetDiskSerial(), expected);
}

TEST(WindowsSources, LeavesTheCallersComAsItFoundIt) {
  // The window thread has COM in a single-threaded apartment; a worker may
  // have it in the multithreaded one. Either way it must still be there after.
  for (const DWORD model : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
    ASSERT_EQ(CoInitializeEx(nullptr, model), S_OK);
    const std::string serial = heartpage::GetDiskSerial();
    EXPECT_EQ(CoInitializeEx(nullptr, model), S_FALSE) << "COM was shut down under the caller";
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(heartpage::GetDiskSerial(), serial);
  }
}

}  // namespace
}  // namespace heartpage::machine
