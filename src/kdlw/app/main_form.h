// The main window: a folder tree and a file list of image and archive files, the command buttons, the
// menus and the status bar for hints. Every command works on the one file selected in the list and opens
// one of the program's other windows through the hooks of the application context.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

#include "kdlw/app/app_context.h"
#include "kdlw/app/settings.h"

class QAction;
class QMenu;
class QStatusBar;
class QToolButton;

namespace kdlw {

class DesktopOpener;
class MountList;
class TAnimateForm;
class TFileView;
class TFolderView;
class TSplitter;

struct MainFormOptions {
  QStringList parameters;           // command-line parameters, the program's name not counted
  QString settingsPath;             // the settings file; not used when there are parameters
  QString defaultFolder;            // the folder shown when the settings name none
  std::function<bool()> shiftHeld;  // polled when the window closes; the keyboard's state when empty
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  TMainForm(AppContext& context, MainFormOptions options, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The selection kind; with exactly one item selected it also sets the selected path.
  int GetFname();
  const QString& SelectedPath() const { return selectedPath_; }

  // Commands.
  void Open();
  void Restore();
  void CopyAll();
  void CreateImage();
  // A blank formatted disk of a chosen media type as a new image (new_image_form.cpp).
  void NewBlankImage();
  void CreateOrUpdateArchive();
  void Labels();
  void Test();
  void OpenRawImage();
  void RawImageOutput();
  // Mounts the selected image or archive and opens it in the desktop's file manager.
  void Mount();
  void DeleteSelected();
  void RenameSelected();
  void About();
  void AskQuit();
  // Re-lists the folder when a command changed files in it.
  void RefreshIfChanged();
  // Reads the shown folder and its sub-folders again (F5).
  void Refresh();

  // Handles a key as the window's own before any control sees it; true when it was a command key.
  bool HandleKey(int key);
  // Enables exactly the commands whose windows exist.
  void UpdateCommandStates();
  // Started with a file: opens its window, then ends the program.
  void RunCommandLine();
  // Another start asked for this instance: restore it when minimised and bring it forward.
  void BringToFront();

  TFolderView* FolderView1() const { return folderView1_; }
  TFileView* FileView1() const { return fileView1_; }
  TSplitter* Splitter1() const { return splitter1_; }
  TAnimateForm* AnimateForm1() const { return animateForm1_; }
  QMenu* PopupMenu1() const { return popupMenu1_; }
  bool CommandLineMode() const { return !options_.parameters.isEmpty(); }
  MountList& Mounts() { return *mounts_; }
  // Opens a mount point in the desktop's file manager; xdg-open unless replaced.
  DesktopOpener& Opener() { return *opener_; }

 signals:
  // The command-line start is done: the program ends now.
  void CommandLineFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildButtons();
  void BuildMenus();
  void FolderView1Change(const QString& path);
  void LoadSettings();
  void SaveSettings();
  bool ShiftHeld() const;
  QString TreeFolder() const;

  AppContext& context_;
  MainFormOptions options_;
  QString selectedPath_;
  QString openDialogFolder_;
  QString saveDialogFolder_;
  WindowPlacement loadedPlacement_;
  // Unmounted when the window closes, and at the latest when it goes.
  std::unique_ptr<MountList> mounts_;
  DesktopOpener* opener_ = nullptr;

  QWidget* panel1_ = nullptr;
  QToolButton* sbSel_ = nullptr;
  QToolButton* sbRestore_ = nullptr;
  QToolButton* sbCopy_ = nullptr;
  QToolButton* sbKDL_ = nullptr;
  QToolButton* sbKDZ_ = nullptr;
  QToolButton* sbLabel_ = nullptr;
  QToolButton* sbClose_ = nullptr;
  TFolderView* folderView1_ = nullptr;
  TSplitter* splitter1_ = nullptr;
  TFileView* fileView1_ = nullptr;
  QStatusBar* stsKDSts_ = nullptr;
  TAnimateForm* animateForm1_ = nullptr;
  QMenu* popupMenu1_ = nullptr;
  QAction* k5_ = nullptr;
  QAction* kNew_ = nullptr;
  QAction* k6_ = nullptr;
  QAction* k7_ = nullptr;
  QAction* k8_ = nullptr;
  QAction* k9_ = nullptr;
  QAction* kT1_ = nullptr;
  QAction* kImgIn_ = nullptr;
  QAction* kimgOI1_ = nullptr;
  QAction* kMount_ = nullptr;
  QAction* popupOpen_ = nullptr;
  QAction* popupCopy_ = nullptr;
  QAction* popupRestore_ = nullptr;
  QAction* popupLabel_ = nullptr;
  QAction* popupMount_ = nullptr;
};

}  // namespace kdlw
