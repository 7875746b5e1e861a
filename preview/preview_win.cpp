// shellapi.h needs the types that windows.h defines first.
#include <windows.h>

#include <shellapi.h>

#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "preview/preview.h"

namespace heartpage {
namespace {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

}  // namespace

std::filesystem::path TempDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  // 0 is a failure and a length above the buffer means the path did not fit;
  // either way the preview goes to the current directory.
  if (length <= 1 || length > MAX_PATH) return {};
  return std::filesystem::path(std::wstring(buffer, length));
}

std::filesystem::path PreviewDirectory() {
  // The user's own temporary folder, which other users cannot write.
  return TempDirectory();
}

PrivateWrite WritePrivateFile(const std::filesystem::path& directory, std::string_view name,
                              std::string_view bytes) {
  std::random_device random;
  const std::filesystem::path file = directory / std::filesystem::path(std::string(name));
  std::filesystem::path fresh = file;
  fresh += "." + std::to_string(random()) + ".tmp";
  {
    std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
    if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (out) out.close();
    std::error_code error;
    if (out) {
      std::filesystem::rename(fresh, file, error);
      if (!error) return PrivateWrite::kWritten;
    }
    // A browser that still holds the old file keeps it from being replaced:
    // the preview fails rather than writing through it.
    std::filesystem::remove(fresh, error);
  }
  return PrivateWrite::kFailed;
}

std::optional<FileStamp> StampFile(const std::filesystem::path& path) {
  const HANDLE handle =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!ok) return std::nullopt;
  return FileStamp{
      info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
      static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                info.ftLastWriteTime.dwLowDateTime)};
}

bool OpenTarget(const std::string& target) {
  const std::wstring wide = Widen(target);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, nullptr, wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

}  // namespace heartpage
