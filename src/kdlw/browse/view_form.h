// The viewer: a read-only text window that shows one file of the open image as text or as a hexadecimal
// dump, the information listing of an image, or the report of an archive. The opener sets what to show (the
// work area's viewer mode; for a file, SetFile) and runs it; the text is filled once the window is up, with
// "中断" stopping a long file view.
#pragma once

#include <QDialog>
#include <QFont>
#include <functional>
#include <optional>

#include "browse/viewer.h"
#include "kdlw/app/app_context.h"

class QPlainTextEdit;
class QProgressBar;
class QStatusBar;
class QToolButton;

namespace kdlw {

class KeyPreview;

// What the viewer shows: mode 0 is a file of the browse window's image (the listing modes are in ViewerMode).
inline constexpr int32_t kViewerFile = 0;

class TViewForm : public QDialog {
  Q_OBJECT

 public:
  TViewForm(AppContext& context, kdl::ImageState& image, QWidget* parent = nullptr);
  ~TViewForm() override;

  // The file the next file view shows: entry `index` of `table` (which must outlive the view).
  void SetFile(const kdl::DirectoryTable* table, size_t index, kdl::ViewMode mode);
  // Prepares, shows modally over `owner` and fills the text once shown.
  void Run(QWidget* owner = nullptr);
  void Prepare();
  // Fills the text according to the work area's viewer mode.
  void Fill();

  void sbCloseClick();
  void sbFontClick();
  bool Busy() const { return filling_; }

  // Chooses a font starting from the current one; empty when the user cancelled. A font dialog unless
  // replaced.
  std::function<std::optional<QFont>(QWidget* parent, const QFont& current)> chooseFont;

 protected:
  void done(int result) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void FillFileView();
  void FillListing(bool archive);
  bool HandleKey(QKeyEvent* key, QWidget* target);
  bool ScrollKey(int key);
  void SetCursor();
  void CaretToStart();

  AppContext& context_;
  kdl::ImageState& image_;
  const kdl::DirectoryTable* table_ = nullptr;
  size_t index_ = 0;
  kdl::ViewMode mode_ = kdl::ViewMode::kText;
  bool filling_ = false;

  QWidget* panel1_ = nullptr;
  QToolButton* sbFont_ = nullptr;
  QToolButton* sbClose_ = nullptr;
  QProgressBar* pbFile_ = nullptr;
  QStatusBar* sbFile_ = nullptr;
  QPlainTextEdit* reView_ = nullptr;
  KeyPreview* keys_ = nullptr;
};

}  // namespace kdlw
