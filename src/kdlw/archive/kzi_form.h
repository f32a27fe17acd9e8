// The archive dialog: creates an archive or adds images to one (a floppy or an existing file per round, each
// through the image dialog), restores every image of an archive through the image dialog, and shows and edits
// the archive's two label lines. The caller sets the dialog mode (0 create/update, 2 restore all, 3 labels),
// the open/close flags and the archive path in the work area, then runs the dialog; it closes itself after
// every run.
#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "archive/archive_format.h"
#include "kdlw/app/app_context.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace kdlw {

class KeyPreview;
class TKDIForm;

class TKZIForm : public QDialog {
  Q_OBJECT

 public:
  TKZIForm(AppContext& context, kdl::ImageState& image, TKDIForm& imageDialog, QWidget* parent = nullptr);
  ~TKZIForm() override;

  // Prepares the dialog for the work area's dialog mode and runs it modally over `owner`. Returns at once
  // when the archive it names cannot be opened.
  void Run(QWidget* owner = nullptr);
  // The preparation alone: false when the archive it names cannot be opened (the user has been told).
  bool Prepare(QWidget* owner = nullptr);

  void btnRefClick();
  void btnGoClick();
  void btnCancelClick();

  // True while a run goes on, also while the image dialog it runs is up (which has busy state of its own).
  bool Busy() const { return running_ || context_.work.image.busy; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  bool HandleKey(QKeyEvent* key, QWidget* target);
  void SetLabelEditsReadOnly(bool readOnly);
  std::array<std::string, kdl::kArchiveLabelCount> LabelsFromEdits() const;
  void RunLabels();
  void RunJob();
  // The archive name typed in eFName with ".KDZ" and the main window's folder added as needed; empty after
  // telling the user when no name was given.
  QString CompletedArchiveName();
  // One round of an addition or a restore: the image dialog, run for the image the work area names.
  int32_t RunImageDialog();
  QString MainFolder() const;
  void ShowError(const QString& text);

  AppContext& context_;
  kdl::ImageState& image_;
  TKDIForm& imageDialog_;
  // The label texts as read when the dialog opened (Shift-JIS), to tell whether the user changed them.
  std::array<std::string, kdl::kArchiveLabelCount> shownLabels_;
  QString saveFolder_;
  bool running_ = false;

  QLabel* label1_ = nullptr;
  QLabel* label2_ = nullptr;
  QLabel* lblStatus_ = nullptr;
  QLineEdit* eFName_ = nullptr;
  QPushButton* btnRef_ = nullptr;
  std::array<QLineEdit*, kdl::kArchiveLabelCount> eLabel_{};
  QPushButton* btnGo_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
  QStatusBar* sbStatus_ = nullptr;
  KeyPreview* keys_ = nullptr;
};

}  // namespace kdlw
