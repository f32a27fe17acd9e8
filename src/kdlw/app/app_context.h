// What the windows of the program share: the work area that commands fill before they open a window,
// the windows themselves as hooks, the user dialogs and the core's prompter.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "archive/archive.h"
#include "common/worker_pool.h"
#include "image/image.h"
#include "kdlw/common/qt_prompter.h"
#include "kdlw/common/user_dialogs.h"

namespace kdlw {

// Selection kinds of the file list.
enum SelectionKind : int32_t { kKindNone = 0, kKindImage = 1, kKindArchive = 2, kKindOther = 3 };

// What the viewer shows when the main window opens it.
enum ViewerMode : int32_t { kViewerImageListing = 1, kViewerArchiveReport = 2 };

// The program-wide work area: dialog mode, open/close flags, image, raw image and archive paths,
// the image options and the list-changed flag.
struct WorkArea {
  kdl::ImageWork image;
  kdl::ArchiveState archive{image};
  int32_t viewerMode = 0;
  // For a new image: another tool's disk image to read as the drive (empty: the drive box's first drive).
  QString createSource;
};

// The windows that commands open. Each shows its window modally over `parent`, reading what it needs
// from the work area, and returns when the window closes. A window that does not exist is empty, and the
// commands that need it are disabled.
struct WindowHooks {
  std::function<void(QWidget* parent)> browse;         // image browse window
  std::function<void(QWidget* parent)> archive;        // archive window
  std::function<void(QWidget* parent)> imageDialog;    // create/restore/labels/raw output dialog
  std::function<void(QWidget* parent)> archiveDialog;  // archive create/update/restore/labels dialog
  std::function<void(QWidget* parent)> copy;           // copy dialog
  std::function<void(QWidget* parent)> viewer;         // text and listing viewer
};

class AppContext {
 public:
  explicit AppContext(UserDialogs& userDialogs) : dialogs(userDialogs), prompter(userDialogs) {
    work.image.prompter = &prompter;
    // Track units are compressed, expanded and checked on every core; only this thread talks to the user.
    if (const int threads = kdl::WorkerPool::MachineThreads(); threads > 1) {
      pool = std::make_unique<kdl::WorkerPool>(threads);
      work.image.pool = pool.get();
    }
  }
  AppContext(const AppContext&) = delete;
  AppContext& operator=(const AppContext&) = delete;

  UserDialogs& dialogs;
  QtPrompter prompter;
  std::unique_ptr<kdl::WorkerPool> pool;
  WorkArea work;
  WindowHooks windows;
  // The folder selected in the main window's folder tree: where new images go by default and where the file
  // and copy dialogs start. Empty when unset or when the program was started with a file.
  std::function<QString()> mainFolder;
};

}  // namespace kdlw
