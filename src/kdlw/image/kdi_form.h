// The image dialog: creates an image from a floppy, restores an image onto a floppy, shows and edits an
// image's label lines, and writes an image out as a raw sector image; inside an archive it also adds a floppy
// or an existing file as a new image. The caller sets the dialog mode, the open/close flags and the paths in
// the work area, then runs the dialog; the dialog does the work when "実行(&G)" is pressed and closes itself.
// The result is left in the work area's dialog result.
#pragma once

#include <QDialog>
#include <array>
#include <optional>

#include "drive/drive_settings.h"
#include "image/listing.h"
#include "kdlw/app/app_context.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace kdlw {

class KeyPreview;

class TKDIForm : public QDialog {
  Q_OBJECT

 public:
  // Where the dialog's source comes from in create mode.
  enum SourceMode { kSourceNormal = 0, kSourceGiven = 1, kSourceFile = 2 };

  // `drives` names the devices behind the drive letters; the drive box lists them and the floppy devices
  // found on this host.
  TKDIForm(AppContext& context, kdl::ImageState& image, kdl::DriveSettings drives, QWidget* parent = nullptr);
  ~TKDIForm() override;

  // Prepares the dialog for the work area's dialog mode and runs it modally over `owner`. Returns at once,
  // with dialog result -1, when the image's labels cannot be read.
  void Run(QWidget* owner = nullptr);
  // The preparation alone: false (dialog result -1) when the image's labels cannot be read.
  bool Prepare();

  void btnRefClick();
  void btnGoClick();
  void btnCancelClick();

  bool Busy() const { return context_.work.image.busy; }
  SourceMode Source() const { return sourceMode_; }
  // Replaces the drive box's list (the first item is selected).
  void SetDriveChoices(const QStringList& choices);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  bool HandleKey(QKeyEvent* key, QWidget* target);
  // The check boxes and the drive box with its label.
  void SetOptionsEnabled(bool enabled);
  void SetLabelEdits(const kdl::LabelTexts& texts, bool readOnly);
  kdl::LabelTexts LabelsFromEdits() const;
  // Reads the labels of the work area's image into the edits and the type line; false when it cannot be read.
  bool ReadImageLabels(bool readOnlyWhenImageIs);
  void RunLabels();
  void RunRestore();
  void RunRawOutput();
  void RunCreate();
  // The drive the drive box names; empty after telling the user why.
  std::optional<kdl::DriveOperand> ChosenDrive();
  // The target typed in eFname with ".KDL" and the main window's folder added as needed; empty when no
  // file name was given.
  std::optional<QString> CompletedTargetName();
  void SetRunning(bool running);
  QString MainFolder() const;

  AppContext& context_;
  kdl::ImageState& image_;
  kdl::DriveSettings drives_;
  SourceMode sourceMode_ = kSourceNormal;
  QString sourceFile_;
  bool sourceIsDisk_ = false;  // the chosen source is another tool's disk image, read as a drive
  QString driveBeforeSource_;  // the drive box's text before an image file was offered in it
  QString saveFolder_;
  QString openFolder_;
  // The label texts as read when the dialog opened, to tell whether the user changed them.
  kdl::LabelTexts shownLabels_;

  QLabel* label1_ = nullptr;
  QLabel* lblDrive_ = nullptr;
  QLineEdit* eFname_ = nullptr;
  QComboBox* cbDrive_ = nullptr;
  QLabel* label3_ = nullptr;
  std::array<QLineEdit*, kdl::kLabelLineCount> eLabel_{};
  QCheckBox* cbPack_ = nullptr;
  QCheckBox* cbClust_ = nullptr;
  QCheckBox* cbVerify_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QStatusBar* sbStatus_ = nullptr;
  QProgressBar* pbKDL_ = nullptr;
  QPushButton* btnRef_ = nullptr;
  QPushButton* btnGo_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
  KeyPreview* keys_ = nullptr;
};

}  // namespace kdlw
