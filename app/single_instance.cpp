#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace heartpage {
namespace {

constexpr int kAskLimitMs = 1000;

// A name every platform takes for a local socket (a pipe's name cannot hold
// a path), distinct per lock directory and so per user.
QString BeaconName(const QString& directory) {
  const QByteArray key = QDir(directory).absolutePath().toUtf8();
  return QStringLiteral("heartpage-") +
         QString::fromLatin1(
             QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16));
}

}  // namespace

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

InstanceBeacon::InstanceBeacon(const QString& directory, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)) {
  const QString name = BeaconName(directory);
  // The lock is ours, so a socket of that name is a crashed copy's.
  QLocalServer::removeServer(name);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(name);
  // Connecting is the whole request: nothing is read from a stranger.
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* asking = server_->nextPendingConnection()) {
      asking->disconnectFromServer();
      asking->deleteLater();
      emit RaiseAsked();
    }
  });
}

InstanceBeacon::~InstanceBeacon() = default;

bool InstanceBeacon::Listening() const {
  return server_->isListening();
}

bool InstanceBeacon::AskToRaise(const QString& directory) {
  QLocalSocket socket;
  socket.connectToServer(BeaconName(directory));
  if (!socket.waitForConnected(kAskLimitMs)) return false;
  socket.disconnectFromServer();
  return true;
}

}  // namespace heartpage
