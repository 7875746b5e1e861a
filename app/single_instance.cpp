#include "app/single_instance.h"

#include <QDir>

namespace heartpage {

QString InstanceLock::DefaultDirectory() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
  return QDir::tempPath();
}

InstanceLock::InstanceLock(const QString& directory)
    : lock_(
          std::make_unique<QLockFile>(QDir(directory).filePath(QStringLiteral("heartpage.lock")))) {
  // Age alone never makes a running copy's lock stale; only a dead owner does.
  lock_->setStaleLockTime(0);
}

bool InstanceLock::TryClaim() {
  return lock_->isLocked() || lock_->tryLock(0);
}

}  // namespace heartpage
