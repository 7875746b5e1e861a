#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <utility>
#include <vector>

#include "machine/disk_serial.h"
#include "machine/serial_core.h"
#include "machine/sources_win.h"

namespace heartpage {
namespace machine {
namespace {

std::string WideToUtf8(const wchar_t* wide, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

// The identify device for `drive`: a handle, or INVALID_HANDLE_VALUE when
// there is none on this system or it cannot be opened.
HANDLE OpenDiskDevice(std::uint8_t drive) {
  const std::optional<DiskDevice> device = DiskDeviceFor(PlatformFamily(), drive);
  if (!device) return INVALID_HANDLE_VALUE;
  // The system disk is in use by everyone else, so the open must share it.
  const DWORD sharing = device->access == 0 ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
  return CreateFileA(device->path.c_str(), device->access, sharing, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

bool SendIdentifyCommand(HANDLE device, CommandBlock& block,
                         std::array<std::uint8_t, kAnswerBufferSize>& answer, std::uint8_t command,
                         std::uint8_t drive, DWORD& bytes_returned) {
  PrepareCommandBlock(block, command, drive);
  return DeviceIoControl(device, kSmartRcvDriveData, block.data(), kCommandBlockSize, answer.data(),
                         kAnswerBytesOffered, &bytes_returned, nullptr) != FALSE;
}

// Owns one COM interface pointer.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* pointer) : pointer_(pointer) {}
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (pointer_) pointer_->Release();
  }
  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  T** out() { return &pointer_; }

 private:
  T* pointer_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT* get() { return &value_; }
  VARIANT* operator->() { return &value_; }

 private:
  VARIANT value_;
};

// COM for the duration of one call, unless the thread already has it.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }

 private:
  HRESULT result_;
};

[[noreturn]] void Fail(const char* what, HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  throw std::runtime_error(std::string("This machine cannot be identified: the management "
                                       "service failed to ") +
                           what + " (error " + code + ").");
}

HRESULT Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANTARG>& args,
               VARIANT* result) {
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT status = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(status)) return status;
  DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr,
                        nullptr);
}

MediaSerial SerialNumberOf(IDispatch* medium) {
  Variant value;
  std::vector<VARIANTARG> none;
  const HRESULT status =
      Invoke(medium, L"SerialNumber", DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, value.get());
  if (FAILED(status)) Fail("read a serial number", status);
  if (value->vt == VT_NULL || value->vt == VT_EMPTY) return std::nullopt;
  if (value->vt != VT_BSTR) {
    const HRESULT changed = VariantChangeType(value.get(), value.get(), 0, VT_BSTR);
    if (FAILED(changed)) Fail("read a serial number as text", changed);
  }
  return WideToUtf8(value->bstrVal, static_cast<int>(SysStringLen(value->bstrVal)));
}

}  // namespace

std::string AnsiToUtf8(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, wide.data(), size);
  return WideToUtf8(wide.data(), size);
}

std::uint32_t PlatformFamily() {
  OSVERSIONINFOA version{};
  static_assert(sizeof version == 148);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return 0;
  return version.dwPlatformId;
}

bool WindowsSerialSources::ReadIdentifyData(std::uint8_t drive, IdentifyRecord& record) {
  record.fill(0);
  const HANDLE device = OpenDiskDevice(drive);
  if (device == INVALID_HANDLE_VALUE) return false;
  CommandBlock block{};
  std::array<std::uint8_t, kAnswerBufferSize> answer{};
  DWORD bytes_returned = 0;
  const bool answered =
      SendIdentifyCommand(device, block, answer, kIdentifyDevice, drive, bytes_returned);
  CloseHandle(device);
  if (!answered) return false;
  std::copy_n(answer.begin() + kIdentifyDataOffset, record.size(), record.begin());
  return true;
}

void WindowsSerialSources::ForEachPhysicalMedium(
    const std::function<bool(const MediaSerial&)>& visit) {
  ComApartment apartment;
  ComRef<IDispatch> service;
  HRESULT status =
      CoGetObject(L"WinMgmts:", nullptr, IID_IDispatch, reinterpret_cast<void**>(service.out()));
  if (FAILED(status)) Fail("start", status);

  Variant media;
  std::vector<VARIANTARG> args(1);
  VariantInit(&args[0]);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(L"Win32_PhysicalMedia");
  status = Invoke(service.get(), L"InstancesOf", DISPATCH_METHOD, args, media.get());
  SysFreeString(args[0].bstrVal);
  if (FAILED(status)) Fail("list the physical media", status);
  if (media->vt != VT_DISPATCH || !media->pdispVal) Fail("list the physical media", E_UNEXPECTED);

  Variant enumerator_object;
  DISPPARAMS no_args{nullptr, nullptr, 0, 0};
  status = media->pdispVal->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT,
                                   DISPATCH_METHOD | DISPATCH_PROPERTYGET, &no_args,
                                   enumerator_object.get(), nullptr, nullptr);
  if (FAILED(status)) Fail("enumerate the physical media", status);
  IUnknown* unknown = enumerator_object->vt == VT_UNKNOWN    ? enumerator_object->punkVal
                      : enumerator_object->vt == VT_DISPATCH ? enumerator_object->pdispVal
                                                             : nullptr;
  if (!unknown) Fail("enumerate the physical media", E_UNEXPECTED);
  ComRef<IEnumVARIANT> enumerator;
  status = unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(enumerator.out()));
  if (FAILED(status)) Fail("enumerate the physical media", status);

  for (;;) {
    Variant item;
    ULONG fetched = 0;
    status = enumerator->Next(1, item.get(), &fetched);
    if (FAILED(status)) Fail("enumerate the physical media", status);
    if (status != S_OK || fetched == 0) return;
    if (item->vt != VT_DISPATCH || !item->pdispVal)
      Fail("enumerate the physical media", E_UNEXPECTED);
    if (!visit(SerialNumberOf(item->pdispVal))) return;
  }
}

}  // namespace machine

std::string GetDiskSerial() {
  machine::WindowsSerialSources sources;
  return machine::GetDiskSerial(sources);
}

}  // namespace heartpage
