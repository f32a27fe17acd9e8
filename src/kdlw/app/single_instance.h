// One running instance per user: a lock file marks the running program, and a local socket beside it lets
// a later start ask the running one to come forward.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

namespace kdlw {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  // `folder` holds the lock file "<name>.lock" and the socket "<name>"; both are the user's own.
  SingleInstance(const QString& folder, const QString& name, QObject* parent = nullptr);

  // The user's runtime folder and the instance name "KadloneManager-<user>".
  static QString DefaultFolder();
  static QString DefaultName();

  // True when this process is now the instance (then it listens for later starts), false when another
  // one runs. A lock that cannot be taken for any other reason lets the program run without one.
  bool TryAcquire();
  // Asks the running instance to come forward, trying for up to `timeoutMs` while it starts listening.
  bool ActivateRunning(int timeoutMs = 3000);

 signals:
  // A later start asked this instance to come forward.
  void ActivationRequested();

 private:
  QString socketPath_;
  QLockFile lock_;
  QLocalServer server_;
};

}  // namespace kdlw
