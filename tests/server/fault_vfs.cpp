#include "tests/server/fault_vfs.h"

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>

namespace heartpage::server::testing {
namespace {

sqlite3_vfs* Base() {
  static sqlite3_vfs* const base = sqlite3_vfs_find("unix");
  return base;
}

// SQLite hands the VFS one block of szOsFile bytes per open file: ours first,
// the unix VFS's own file right behind it.
struct FaultFile {
  sqlite3_file base;  // first, so that SQLite's pointer is a pointer to us
  sqlite3_file* real;
  std::string path;  // empty for a file without a name
};
constexpr int kHeaderBytes = (sizeof(FaultFile) + 7) & ~7;

FaultFile* Of(sqlite3_file* file) {
  return reinterpret_cast<FaultFile*>(file);
}
sqlite3_file* Real(sqlite3_file* file) {
  return Of(file)->real;
}

std::optional<std::string> ContentOf(sqlite3_file* real) {
  sqlite3_int64 size = 0;
  if (real->pMethods->xFileSize(real, &size) != SQLITE_OK) return std::nullopt;
  std::string content(static_cast<std::size_t>(size), '\0');
  if (size > 0 &&
      real->pMethods->xRead(real, content.data(), static_cast<int>(size), 0) != SQLITE_OK)
    return std::nullopt;
  return content;
}

int Close(sqlite3_file* file) {
  FaultFile* fault_file = Of(file);
  const int rc = fault_file->real->pMethods->xClose(fault_file->real);
  fault_file->~FaultFile();
  FaultVfs::Get().Closed();
  return rc;
}
int Read(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
  return Real(file)->pMethods->xRead(Real(file), buffer, amount, offset);
}
int Write(sqlite3_file* file, const void* data, int amount, sqlite3_int64 offset) {
  if (const int rc = FaultVfs::Get().BeforeWrite(); rc != SQLITE_OK) return rc;
  return Real(file)->pMethods->xWrite(Real(file), data, amount, offset);
}
int Truncate(sqlite3_file* file, sqlite3_int64 size) {
  if (const int rc = FaultVfs::Get().BeforeOtherChange(SQLITE_IOERR_TRUNCATE); rc != SQLITE_OK)
    return rc;
  return Real(file)->pMethods->xTruncate(Real(file), size);
}
int Sync(sqlite3_file* file, int /*flags*/) {
  if (const int rc = FaultVfs::Get().BeforeSync(); rc != SQLITE_OK) return rc;
  FaultFile* fault_file = Of(file);
  if (fault_file->path.empty()) return SQLITE_OK;
  std::optional<std::string> content = ContentOf(fault_file->real);
  if (!content) return SQLITE_IOERR_FSYNC;
  FaultVfs::Get().Synced(fault_file->path, std::move(*content));
  return SQLITE_OK;
}
int FileSize(sqlite3_file* file, sqlite3_int64* size) {
  return Real(file)->pMethods->xFileSize(Real(file), size);
}
int Lock(sqlite3_file* file, int level) {
  return Real(file)->pMethods->xLock(Real(file), level);
}
int Unlock(sqlite3_file* file, int level) {
  return Real(file)->pMethods->xUnlock(Real(file), level);
}
int CheckReservedLock(sqlite3_file* file, int* result) {
  return Real(file)->pMethods->xCheckReservedLock(Real(file), result);
}
int FileControl(sqlite3_file* file, int op, void* argument) {
  return Real(file)->pMethods->xFileControl(Real(file), op, argument);
}
int SectorSize(sqlite3_file* file) {
  return Real(file)->pMethods->xSectorSize(Real(file));
}
int DeviceCharacteristics(sqlite3_file* file) {
  return Real(file)->pMethods->xDeviceCharacteristics(Real(file));
}
int ShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** memory) {
  return Real(file)->pMethods->xShmMap(Real(file), region, size, extend, memory);
}
int ShmLock(sqlite3_file* file, int offset, int count, int flags) {
  if (flags == (SQLITE_SHM_LOCK | SQLITE_SHM_EXCLUSIVE))
    if (const int rc = FaultVfs::Get().BeforeExclusiveLock(); rc != SQLITE_OK) return rc;
  return Real(file)->pMethods->xShmLock(Real(file), offset, count, flags);
}
void ShmBarrier(sqlite3_file* file) {
  Real(file)->pMethods->xShmBarrier(Real(file));
}
int ShmUnmap(sqlite3_file* file, int delete_flag) {
  return Real(file)->pMethods->xShmUnmap(Real(file), delete_flag);
}

// Version 2: shared memory for the WAL index, but no memory-mapped reads, so
// every byte of the database goes through Read and Write above.
const sqlite3_io_methods kMethods = {2,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     nullptr,
                                     nullptr};

int Open(sqlite3_vfs* /*vfs*/, sqlite3_filename name, sqlite3_file* file, int flags,
         int* out_flags) {
  auto* fault_file = new (file) FaultFile{};
  fault_file->base.pMethods = nullptr;
  fault_file->real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + kHeaderBytes);
  if (name != nullptr) fault_file->path = name;
  const bool existed = !fault_file->path.empty() && std::filesystem::exists(fault_file->path);
  const int rc = Base()->xOpen(Base(), name, fault_file->real, flags, out_flags);
  if (rc != SQLITE_OK) {
    if (fault_file->real->pMethods != nullptr) fault_file->real->pMethods->xClose(fault_file->real);
    fault_file->~FaultFile();
    file->pMethods = nullptr;
    return rc;
  }
  if (!fault_file->path.empty())
    FaultVfs::Get().Opened(fault_file->path, existed ? ContentOf(fault_file->real) : std::nullopt);
  file->pMethods = &kMethods;
  return SQLITE_OK;
}
int Delete(sqlite3_vfs* /*vfs*/, const char* name, int sync_directory) {
  if (const int rc = FaultVfs::Get().BeforeOtherChange(SQLITE_IOERR_DELETE); rc != SQLITE_OK)
    return rc;
  const int rc = Base()->xDelete(Base(), name, sync_directory);
  if (rc == SQLITE_OK || rc == SQLITE_IOERR_DELETE_NOENT) FaultVfs::Get().Deleted(name);
  return rc;
}
int Access(sqlite3_vfs* /*vfs*/, const char* name, int flags, int* result) {
  return Base()->xAccess(Base(), name, flags, result);
}
int FullPathname(sqlite3_vfs* /*vfs*/, const char* name, int size, char* out) {
  return Base()->xFullPathname(Base(), name, size, out);
}
void* DlOpen(sqlite3_vfs* /*vfs*/, const char* name) {
  return Base()->xDlOpen(Base(), name);
}
void DlError(sqlite3_vfs* /*vfs*/, int size, char* message) {
  Base()->xDlError(Base(), size, message);
}
void (*DlSym(sqlite3_vfs* /*vfs*/, void* library, const char* symbol))(void) {
  return Base()->xDlSym(Base(), library, symbol);
}
void DlClose(sqlite3_vfs* /*vfs*/, void* library) {
  Base()->xDlClose(Base(), library);
}
int Randomness(sqlite3_vfs* /*vfs*/, int size, char* out) {
  return Base()->xRandomness(Base(), size, out);
}
int Sleep(sqlite3_vfs* /*vfs*/, int microseconds) {
  return Base()->xSleep(Base(), microseconds);
}
int CurrentTime(sqlite3_vfs* /*vfs*/, double* now) {
  return Base()->xCurrentTime(Base(), now);
}
int GetLastError(sqlite3_vfs* /*vfs*/, int size, char* out) {
  return Base()->xGetLastError(Base(), size, out);
}
int CurrentTimeInt64(sqlite3_vfs* /*vfs*/, sqlite3_int64* now) {
  return Base()->xCurrentTimeInt64(Base(), now);
}

}  // namespace

FaultVfs& FaultVfs::Get() {
  static FaultVfs* const instance = [] {
    static sqlite3_vfs shim{};
    shim.iVersion = 2;
    shim.szOsFile = kHeaderBytes + Base()->szOsFile;
    shim.mxPathname = Base()->mxPathname;
    shim.zName = kName;
    shim.xOpen = Open;
    shim.xDelete = Delete;
    shim.xAccess = Access;
    shim.xFullPathname = FullPathname;
    shim.xDlOpen = DlOpen;
    shim.xDlError = DlError;
    shim.xDlSym = DlSym;
    shim.xDlClose = DlClose;
    shim.xRandomness = Randomness;
    shim.xSleep = Sleep;
    shim.xCurrentTime = CurrentTime;
    shim.xGetLastError = GetLastError;
    shim.xCurrentTimeInt64 = CurrentTimeInt64;
    if (sqlite3_vfs_register(&shim, /*makeDflt=*/0) != SQLITE_OK)
      throw std::runtime_error("cannot register the fault VFS");
    return new FaultVfs;
  }();
  return *instance;
}

void FaultVfs::FailNth(Op op, int nth, int code, bool lasting) {
  std::lock_guard lock(mutex_);
  fault_ = {.op = op, .remaining = nth, .code = code, .lasting = lasting, .armed = true};
}

bool FaultVfs::Fired() {
  std::lock_guard lock(mutex_);
  return fault_.fired;
}

void FaultVfs::Clear() {
  std::lock_guard lock(mutex_);
  fault_ = {};
}

void FaultVfs::PowerOffAt(int nth) {
  std::lock_guard lock(mutex_);
  power_countdown_ = nth;
}

void FaultVfs::PowerOff() {
  std::lock_guard lock(mutex_);
  off_ = true;
}

bool FaultVfs::PoweredOff() {
  std::lock_guard lock(mutex_);
  return off_;
}

void FaultVfs::RestoreDurable() {
  std::lock_guard lock(mutex_);
  for (const auto& [path, content] : durable_) {
    std::filesystem::remove(path + "-shm");
    if (!content) {
      std::filesystem::remove(path);
      continue;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content->data(), static_cast<std::streamsize>(content->size()));
    if (!out) throw std::runtime_error("cannot restore " + path);
  }
  off_ = false;
  power_countdown_ = -1;
}

void FaultVfs::Reset() {
  std::lock_guard lock(mutex_);
  fault_ = {};
  power_countdown_ = -1;
  off_ = false;
  durable_.clear();
}

int FaultVfs::Check(Op op, int power_code) {
  std::lock_guard lock(mutex_);
  if (op != Op::kLock) {
    if (off_) return power_code;
    if (power_countdown_ > 0 && --power_countdown_ == 0) {
      off_ = true;
      return power_code;
    }
  }
  if (!fault_.armed || fault_.op != op) return SQLITE_OK;
  if (fault_.remaining > 0) --fault_.remaining;
  if (fault_.remaining > 0) return SQLITE_OK;
  fault_.fired = true;
  if (!fault_.lasting) fault_.armed = false;
  return fault_.code;
}

int FaultVfs::BeforeWrite() {
  return Check(Op::kWrite, SQLITE_IOERR_WRITE);
}

int FaultVfs::BeforeSync() {
  return Check(Op::kSync, SQLITE_IOERR_FSYNC);
}

int FaultVfs::BeforeExclusiveLock() {
  return Check(Op::kLock, SQLITE_OK);
}

int FaultVfs::BeforeOtherChange(int code) {
  std::lock_guard lock(mutex_);
  return off_ ? code : SQLITE_OK;
}

void FaultVfs::Opened(const std::string& path, std::optional<std::string> durable_content) {
  std::lock_guard lock(mutex_);
  ++open_files_;
  if (!path.empty()) durable_.try_emplace(path, std::move(durable_content));
}

void FaultVfs::Closed() {
  std::lock_guard lock(mutex_);
  --open_files_;
}

int FaultVfs::OpenFiles() {
  std::lock_guard lock(mutex_);
  return open_files_;
}

void FaultVfs::Synced(const std::string& path, std::string content) {
  std::lock_guard lock(mutex_);
  durable_[path] = std::move(content);
}

void FaultVfs::Deleted(const std::string& path) {
  std::lock_guard lock(mutex_);
  durable_[path] = std::nullopt;
}

}  // namespace heartpage::server::testing
