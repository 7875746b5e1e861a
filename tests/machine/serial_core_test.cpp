#include "machine/serial_core.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "tests/machine/identify_samples.h"

namespace heartpage::machine {
namespace {

using testing::LoadIdentifySample;
using testing::RecordOf;

IdentifyRecord RecordWithSerial(std::string_view field) {
  IdentifyRecord record{};
  std::copy(field.begin(), field.end(), record.begin() + kSerialOffset);
  return record;
}

TEST(SerialExtraction, TakesTheFieldInMemoryOrder) {
  // The label reads WD-WCC4N1234567; no pair is exchanged, so every pair
  // comes out reversed and the padding space of the eighth pair moves inside.
  EXPECT_EQ(ExtractSerial(RecordOf(LoadIdentifySample("ata_order.hex"))), "DWW-CCN4214365 7");
}

TEST(SerialExtraction, TrimsOnlyOuterSpaces) {
  EXPECT_EQ(ExtractSerial(RecordOf(LoadIdentifySample("space_padded.hex"))), "S3Z 9NB0K  123");
  EXPECT_EQ(ExtractSerial(RecordOf(LoadIdentifySample("blank.hex"))), "");
  EXPECT_EQ(TrimSpaces("\t A B \n"), "\t A B \n");
  EXPECT_EQ(TrimSpaces("  \tA B\t  "), "\tA B\t");
}

TEST(SerialExtraction, KeepsZeroBytesAsCharacters) {
  EXPECT_EQ(ExtractSerial(RecordOf(LoadIdentifySample("zero_padded.hex"))),
            "1234ABCD" + std::string(12, '\0'));
  EXPECT_EQ(ExtractSerial(IdentifyRecord{}), std::string(20, '\0'));
  // A zero byte is not a space: the spaces it shields from the end stay.
  EXPECT_EQ(ExtractSerial(RecordWithSerial(std::string("  AB  ") + '\0' + "             ")),
            std::string("AB  ") + '\0');
}

TEST(SerialExtraction, ReadsOnlyBytes20To39) {
  IdentifyRecord record{};
  record.fill('x');
  std::fill_n(record.begin() + kSerialOffset, kSerialLength, 'S');
  EXPECT_EQ(ExtractSerial(record), std::string(20, 'S'));
}

TEST(AnsiConversion, KeepsAsciiAndZeroBytes) {
  EXPECT_EQ(AnsiToUtf8(std::string("AB\0 9-z", 7)), std::string("AB\0 9-z", 7));
  EXPECT_EQ(AnsiToUtf8(""), "");
}

// Sources whose answers the test sets, counting what was asked.
class FakeSources : public SerialSources {
 public:
  std::optional<IdentifyRecord> identify;  // nullopt: the drive cannot be read
  std::vector<MediaSerial> media;
  bool list_fails = false;

  int identify_reads = 0;
  int media_listed = 0;
  int media_visited = 0;

  bool ReadIdentifyData(std::uint8_t drive, IdentifyRecord& record) override {
    ++identify_reads;
    EXPECT_EQ(drive, 0);
    EXPECT_EQ(record, IdentifyRecord{}) << "the record handed to the read is not cleared";
    if (!identify) return false;
    record = *identify;
    return true;
  }

  void ForEachPhysicalMedium(const std::function<bool(const MediaSerial&)>& visit) override {
    ++media_listed;
    if (list_fails) throw std::runtime_error("no management service");
    for (const MediaSerial& serial : media) {
      ++media_visited;
      if (!visit(serial)) return;
    }
  }
};

TEST(SourceOrder, DiskAnswersFirst) {
  FakeSources sources;
  sources.identify = RecordWithSerial("  DISK0SERIAL       ");
  sources.media = {"MEDIA"};
  EXPECT_EQ(GetDiskSerial(sources), "DISK0SERIAL");
  EXPECT_EQ(sources.media_listed, 0);
}

TEST(SourceOrder, BlankDiskSerialDoesNotFallBack) {
  FakeSources sources;
  sources.identify = RecordWithSerial(std::string(20, ' '));
  sources.media = {"MEDIA"};
  EXPECT_EQ(GetDiskSerial(sources), "");
  EXPECT_EQ(sources.media_listed, 0);

  sources.identify = IdentifyRecord{};
  EXPECT_EQ(GetDiskSerial(sources), std::string(20, '\0'));
  EXPECT_EQ(sources.media_listed, 0);
}

TEST(SourceOrder, FailedDiskReadFallsBackToFirstMedium) {
  FakeSources sources;
  sources.media = {"  FIRST 1  ", "SECOND", std::nullopt};
  EXPECT_EQ(GetDiskSerial(sources), "FIRST 1");
  EXPECT_EQ(sources.identify_reads, 1);
  EXPECT_EQ(sources.media_visited, 1) << "the enumeration goes on past the first medium";

  sources.media = {"", "SECOND"};
  EXPECT_EQ(GetDiskSerial(sources), "") << "an empty serial is an identifier like any other";
}

TEST(SourceOrder, NoMediaGivesTheEmptyText) {
  FakeSources sources;
  EXPECT_EQ(GetDiskSerial(sources), "");
}

TEST(SourceOrder, FallbackFailuresReachTheCaller) {
  FakeSources sources;
  sources.media = {std::nullopt, "SECOND"};
  EXPECT_THROW(GetDiskSerial(sources), std::runtime_error);

  sources.media = {"FIRST"};
  sources.list_fails = true;
  EXPECT_THROW(GetDiskSerial(sources), std::runtime_error);
}

TEST(SourceOrder, EveryCallAsksAgain) {
  FakeSources sources;
  sources.media = {"OLD"};
  EXPECT_EQ(GetDiskSerial(sources), "OLD");
  sources.media = {"NEW"};
  EXPECT_EQ(GetDiskSerial(sources), "NEW");
  sources.identify = RecordWithSerial("NOW A DISK          ");
  EXPECT_EQ(GetDiskSerial(sources), "NOW A DISK");
  EXPECT_EQ(sources.identify_reads, 3);
}

TEST(SmartRequest, SetsExactlyThreeBytesOfTheCommandBlock) {
  CommandBlock block{};
  PrepareCommandBlock(block, kIdentifyDevice, 0);
  CommandBlock expected{};
  expected[9] = 0xA0;
  expected[10] = 0xEC;
  EXPECT_EQ(block, expected);

  // The drive/head register selects the second drive of a channel by bit 4.
  block = {};
  PrepareCommandBlock(block, 0xA1, 3);
  expected = {};
  expected[9] = 0xB0;
  expected[10] = 0xA1;
  expected[11] = 3;
  EXPECT_EQ(block, expected);
  block = {};
  PrepareCommandBlock(block, kIdentifyDevice, 2);
  EXPECT_EQ(block[9], 0xA0);
}

TEST(SmartRequest, DeviceDependsOnPlatformFamily) {
  const auto nt = DiskDeviceFor(kPlatformNt, 0);
  ASSERT_TRUE(nt);
  EXPECT_EQ(nt->path, R"(\\.\PhysicalDrive0)");
  EXPECT_EQ(nt->access, 0xC0000000u);
  EXPECT_EQ(DiskDeviceFor(kPlatformNt, 3)->path, R"(\\.\PhysicalDrive3)");
  EXPECT_FALSE(DiskDeviceFor(kPlatformNt, 4));
  EXPECT_FALSE(DiskDeviceFor(kPlatformNt, 255));

  EXPECT_FALSE(DiskDeviceFor(0, 0));
  EXPECT_FALSE(DiskDeviceFor(3, 0));
}

}  // namespace
}  // namespace heartpage::machine
