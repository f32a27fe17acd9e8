// The main window's "new blank image" dialog: a freshly formatted disk of the chosen media type as a new
// ".KDL" image (or a raw image for any other name), with a volume label, a first label line and, when a
// folder is given, that folder's files and folders on it.
#pragma once

#include <QDialog>

#include "kdlw/app/app_context.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace kdlw {

class TNewImageForm : public QDialog {
  Q_OBJECT

 public:
  // `folder` is where the file dialogs start and where a bare name goes.
  TNewImageForm(AppContext& context, const QString& folder, QWidget* parent = nullptr);

  // Makes the image; the dialog closes when it was written and stays (after the message) when not.
  void btnGoClick();
  void btnCancelClick();
  bool Busy() const { return busy_; }
  // The image last written, empty before.
  const QString& Written() const { return written_; }

  QLineEdit* FileName() const { return eFname_; }
  QComboBox* MediaType() const { return cbMedia_; }
  QLineEdit* VolumeLabel() const { return eVolume_; }
  QLineEdit* LabelLine() const { return eLabel_; }
  QLineEdit* FromFolder() const { return eFrom_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;
  bool event(QEvent* event) override;

 private:
  AppContext& context_;
  QString folder_;
  QString written_;
  bool busy_ = false;
  QLineEdit* eFname_ = nullptr;
  QComboBox* cbMedia_ = nullptr;
  QLineEdit* eVolume_ = nullptr;
  QLineEdit* eLabel_ = nullptr;
  QLineEdit* eFrom_ = nullptr;
  QCheckBox* cbCompress_ = nullptr;
  QCheckBox* cbUnused_ = nullptr;
  QProgressBar* pbNew_ = nullptr;
  QPushButton* btnGo_ = nullptr;
  QStatusBar* sbStatus_ = nullptr;
};

}  // namespace kdlw
