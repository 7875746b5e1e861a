#pragma once

// An SQLite VFS for tests that sits between the database and the "unix" VFS.
// It makes chosen writes, syncs or locks fail the way a full or failing disk
// does, and it keeps, per file, what the last sync made durable, so that a
// power loss can be played on the files: what was written but never synced is
// gone.
// Syncs are only recorded, never passed to the disk: the durable copies are
// the simulated disk, and the tests stay fast.

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace heartpage::server::testing {

class FaultVfs {
 public:
  static constexpr const char* kName = "heartpage-faults";
  // kLock: taking an exclusive lock in the WAL index, as a writer does first.
  enum class Op { kWrite, kSync, kLock };

  // The one instance, registered with SQLite (not as the default) on first use.
  static FaultVfs& Get();

  // The `nth` operation of kind `op` from now on (1: the next) fails with
  // `code`; when `lasting`, every later one fails too until Clear().
  void FailNth(Op op, int nth, int code, bool lasting);
  // Whether the fault set by FailNth has struck.
  bool Fired();
  void Clear();

  // The power goes off at the `nth` write or sync from now on (1: the next):
  // that operation and every later write, sync, truncation and deletion fail.
  void PowerOffAt(int nth);
  void PowerOff();
  bool PoweredOff();
  // With every connection closed: each file the VFS has seen becomes what its
  // last sync left (a file never synced is removed, so is every -shm file),
  // and the power comes back on.
  void RestoreDurable();

  // Files opened through the VFS and not yet closed.
  int OpenFiles();

  // Forgets files, faults and power state, between independent cases.
  void Reset();

  // Called by the VFS's file methods.
  int BeforeWrite();
  int BeforeSync();
  int BeforeExclusiveLock();
  int BeforeOtherChange(int code);
  void Opened(const std::string& path, std::optional<std::string> durable_content);
  void Closed();
  void Synced(const std::string& path, std::string content);
  void Deleted(const std::string& path);

 private:
  FaultVfs() = default;
  int Check(Op op, int power_code);

  std::mutex mutex_;
  struct Fault {
    Op op = Op::kWrite;
    int remaining = 0;  // operations of `op` until it strikes; 0 once it has
    int code = 0;
    bool lasting = false;
    bool armed = false;
    bool fired = false;
  } fault_;
  int power_countdown_ = -1;  // writes and syncs until the power goes; -1: never
  bool off_ = false;
  int open_files_ = 0;
  // Per file path, its content as of its last sync; nullopt when never synced.
  std::map<std::string, std::optional<std::string>> durable_;
};

}  // namespace heartpage::server::testing
