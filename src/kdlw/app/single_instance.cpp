#include "kdlw/app/single_instance.h"

#include <pwd.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace kdlw {

SingleInstance::SingleInstance(const QString& folder, const QString& name, QObject* parent)
    : QObject(parent),
      socketPath_(QDir(folder).filePath(name)),
      lock_(QDir(folder).filePath(name + ".lock")) {
  // The lock is held for the program's whole run, so its age says nothing; only a dead holder frees it.
  lock_.setStaleLockTime(0);
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      emit ActivationRequested();
    }
  });
}

QString SingleInstance::DefaultFolder() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder;
}

QString SingleInstance::DefaultName() {
  QString user;
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr) {
    user = QString::fromLocal8Bit(pw->pw_name);
  } else {
    user = QString::number(::getuid());
  }
  return QStringLiteral("KadloneManager-") + user;
}

bool SingleInstance::TryAcquire() {
  if (!lock_.tryLock(0)) {
    if (lock_.error() == QLockFile::LockFailedError) return false;
    // No marker could be made (folder missing or read-only): run on without one.
    return true;
  }
  // A socket left behind by an instance that died is ours to replace while we hold the lock.
  QLocalServer::removeServer(socketPath_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  server_.listen(socketPath_);
  return true;
}

bool SingleInstance::ActivateRunning(int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  // The running instance may hold the lock a moment before it listens.
  while (true) {
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (socket.waitForConnected(static_cast<int>(qMax<qint64>(deadline.remainingTime(), 1)))) {
      socket.write("activate\n");
      socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      return true;
    }
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
}

}  // namespace kdlw
