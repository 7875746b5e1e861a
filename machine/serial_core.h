#pragma once

// The part of the machine identifier that every platform shares: which source
// is asked when, and how the serial number field becomes text. The platform
// files supply the sources and the code-page conversion.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace heartpage::machine {

// The first 90 bytes of a drive's ATA identify data (identify words 0 to 44),
// in the order the drive sends them.
inline constexpr std::size_t kIdentifyRecordSize = 90;
using IdentifyRecord = std::array<std::uint8_t, kIdentifyRecordSize>;

// Identify words 10 to 19: the drive's serial number, 20 ASCII bytes.
inline constexpr std::size_t kSerialOffset = 20;
inline constexpr std::size_t kSerialLength = 20;

// Bytes in the system's ANSI code page to UTF-8, a zero byte becoming U+0000.
// Implemented by the platform file.
std::string AnsiToUtf8(std::string_view bytes);

// `text` without the U+0020 spaces at either end; other blanks, zero
// characters and inner spaces stay.
std::string TrimSpaces(std::string_view text);

// The serial number field of `record` as text: the bytes in memory order (an
// ATA-order serial therefore comes out with each pair of characters
// reversed), through the ANSI code page, spaces trimmed at both ends. The
// ownership rows on the server hold identifiers of exactly this form.
std::string ExtractSerial(const IdentifyRecord& record);

// The serial number of one entry in the list of physical media; nullopt when
// the entry has no serial number at all (as opposed to an empty one).
using MediaSerial = std::optional<std::string>;

// Where the identifier comes from. Production code uses the platform's
// sources; tests supply their own.
class SerialSources {
 public:
  virtual ~SerialSources() = default;

  // Fills `record` with the identify data of `drive` and answers true, or
  // answers false (leaving `record` zeroed) when the drive cannot be read.
  virtual bool ReadIdentifyData(std::uint8_t drive, IdentifyRecord& record) = 0;

  // Hands the serial number of each physical medium, in the platform's order,
  // to `visit` until `visit` answers false. Throws std::runtime_error when the
  // list itself cannot be obtained.
  virtual void ForEachPhysicalMedium(const std::function<bool(const MediaSerial&)>& visit) = 0;
};

// Drive 0's identify data when it can be read (even when its serial field is
// blank), otherwise the first physical medium's serial number, trimmed; the
// empty text when there are no physical media. Throws std::runtime_error when
// the list fails or its first entry has no serial number.
std::string GetDiskSerial(SerialSources& sources);

// The SMART interface of Windows, kept here as plain data so that its layout
// is checked on every platform.
inline constexpr std::uint32_t kSmartRcvDriveData = 0x0007C088;
inline constexpr std::uint8_t kIdentifyDevice = 0xEC;
inline constexpr std::size_t kCommandBlockSize = 32;
inline constexpr std::size_t kAnswerBufferSize = 532;
inline constexpr std::size_t kAnswerBytesOffered = 528;
inline constexpr std::size_t kIdentifyDataOffset = 16;  // in the answer buffer
using CommandBlock = std::array<std::uint8_t, kCommandBlockSize>;

// Sets the drive/head register, the command register and the byte after it;
// every other byte of `block` is left as it is.
void PrepareCommandBlock(CommandBlock& block, std::uint8_t command, std::uint8_t drive);

// Operating-system families as the version record reports them.
inline constexpr std::uint32_t kPlatformNt = 2;

struct DiskDevice {
  std::string path;
  std::uint32_t access = 0;  // desired access rights for the open
};

// The device that answers identify requests for `drive` on a system of
// `platform_family`; nullopt where there is none.
std::optional<DiskDevice> DiskDeviceFor(std::uint32_t platform_family, std::uint8_t drive);

}  // namespace heartpage::machine
