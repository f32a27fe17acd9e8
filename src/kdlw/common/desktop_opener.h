// Opening a file with the desktop's program for its type, and telling when there is none. The desktop's
// services report success as soon as the opener (xdg-open) has started, so the opener is run here and its
// exit status watched: an opener that ends in failure found no program that could open the file.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

namespace kdlw {

class DesktopOpener : public QObject {
  Q_OBJECT

 public:
  explicit DesktopOpener(QObject* parent = nullptr);
  // An opener still waiting for its program is let go, the program keeps running.
  ~DesktopOpener() override;

  // The opener's program and the arguments that go before the file; xdg-open unless replaced.
  void SetCommand(const QString& program, const QStringList& arguments = {});
  // Starts opening `file` and returns at once; `failed` runs later when no program could open it.
  void Open(const QString& file, std::function<void()> failed);

 private:
  QString program_;
  QStringList arguments_;
};

}  // namespace kdlw
