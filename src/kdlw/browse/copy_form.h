// The copy dialog: asks for the host folder to copy into, what to do with files that exist there and whether
// the image's directories are recreated, then runs one of three jobs: the entries selected in the browse
// window (kind 0), the whole image (kind 1), or every image of an archive (kind 2). The job kind is the work
// area's dialog mode. The folder, the policy and the directories choice are kept from one use to the next.
#pragma once

#include <QDialog>
#include <array>
#include <filesystem>
#include <vector>

#include "browse/copyout.h"
#include "kdlw/app/app_context.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;

namespace kdlw {

class KeyPreview;
class TFolderView;

enum CopyJobKind : int32_t { kCopySelection = 0, kCopyWholeImage = 1, kCopyAllImages = 2 };

class TCopyForm : public QDialog {
  Q_OBJECT

 public:
  TCopyForm(AppContext& context, kdl::ImageState& image, QWidget* parent = nullptr);
  ~TCopyForm() override;

  // The browse list a kind-0 job copies from: the directory it shows and its items in list order. The table
  // must outlive the job.
  void SetSelection(const kdl::DirectoryTable* current, std::vector<kdl::SelectionItem> items);
  // Prepares and shows the dialog modally over `owner`.
  void Run(QWidget* owner = nullptr);
  void Prepare();

  void btnGoClick();
  void btnCancelClick();

  bool Busy() const { return context_.work.image.busy; }
  kdl::OverwritePolicy Policy() const { return policy_; }
  bool Flatten() const { return flatten_; }
  const QString& Target() const { return target_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  // True when `target` is a folder the job can write into, after creating it if the user agreed.
  bool CheckTarget(const QString& target);
  void TargetError(const QString& text);
  int32_t RunJob(const std::filesystem::path& target);
  void FolderChanged(const QString& path);
  void DriveChosen(int index);

  AppContext& context_;
  kdl::ImageState& image_;
  const kdl::DirectoryTable* current_ = nullptr;
  std::vector<kdl::SelectionItem> items_;
  kdl::OverwritePolicy policy_ = kdl::OverwritePolicy::kNewer;
  bool flatten_ = false;
  QString target_;

  QLabel* label1_ = nullptr;
  QLineEdit* eCopyDir_ = nullptr;
  TFolderView* dlbCopy_ = nullptr;
  QComboBox* driveCopy_ = nullptr;
  std::array<QRadioButton*, 4> rbName_{};
  QCheckBox* cbDirectory_ = nullptr;
  QPushButton* btnGo_ = nullptr;
  QPushButton* btnCancel_ = nullptr;
  QLabel* lblFile_ = nullptr;
  QProgressBar* pbCopy_ = nullptr;
  QStatusBar* sbStatus_ = nullptr;
  KeyPreview* keys_ = nullptr;
};

}  // namespace kdlw
