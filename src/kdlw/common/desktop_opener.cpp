#include "kdlw/common/desktop_opener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace kdlw {

DesktopOpener::DesktopOpener(QObject* parent) : QObject(parent), program_(QStringLiteral("xdg-open")) {}

DesktopOpener::~DesktopOpener() {
  for (QProcess* process : findChildren<QProcess*>()) {
    disconnect(process, nullptr, this, nullptr);
    // Only the opener is stopped; the program it started keeps running.
    process->kill();
    process->waitForFinished(100);
  }
}

void DesktopOpener::SetCommand(const QString& program, const QStringList& arguments) {
  program_ = program;
  arguments_ = arguments;
}

void DesktopOpener::Open(const QString& file, std::function<void()> failed) {
  auto* process = new QProcess(this);
  process->setProgram(program_);
  process->setArguments(arguments_ + QStringList{file});
  // What the opener prints is not for the user; the window says what happened.
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  auto fail = [failed = std::move(failed)] {
    if (failed) failed();
  };
  connect(process, &QProcess::finished, this, [process, fail](int code, QProcess::ExitStatus status) {
    if (status == QProcess::NormalExit && code != 0) fail();
    process->deleteLater();
  });
  connect(process, &QProcess::errorOccurred, this, [process, file, fail](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    // Without the opener the desktop services may still know a way (a portal, the desktop's own opener).
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file))) fail();
    process->deleteLater();
  });
  process->start();
}

}  // namespace kdlw
