// The version box: the program's icon and name, its version and release date, and a line about its licence.
#pragma once

#include <QDialog>

namespace kdlw {

class TAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  // "Version X.Y.Z" and the release date.
  static QString VersionLine();
};

}  // namespace kdlw
