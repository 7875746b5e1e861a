#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

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

// How a later start reaches the running copy: the holder of the lock in a
// directory listens on a local socket named after that directory, and a
// start that finds the lock taken connects to it. The lock stays the one
// judge of which copy runs; the socket only carries the request to come
// forward.
class InstanceBeacon : public QObject {
  Q_OBJECT
 public:
  // Listens for the copy holding the lock in `directory`; only that copy
  // may create one (a socket left by a crashed copy is replaced).
  explicit InstanceBeacon(const QString& directory, QObject* parent = nullptr);
  ~InstanceBeacon() override;
  bool Listening() const;

  // Asks the copy that holds the lock in `directory` to bring its window
  // forward; false when none listens. Waits at most a second: called off
  // the windows' thread.
  static bool AskToRaise(const QString& directory);

 signals:
  void RaiseAsked();

 private:
  QLocalServer* server_;
};

}  // namespace heartpage
