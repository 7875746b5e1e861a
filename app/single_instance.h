#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace heartpage {

// The lock that keeps a second copy of the program from running: a lock
// file in the user's runtime directory, held until this object goes. A copy
// that crashed leaves a file behind that the next start recognises as stale.
class InstanceLock {
 public:
  // $XDG_RUNTIME_DIR, else the temporary directory.
  static QString DefaultDirectory();

  explicit InstanceLock(const QString& directory = DefaultDirectory());
  // True when this process now holds the lock; false when another does.
  bool TryClaim();

 private:
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace heartpage
