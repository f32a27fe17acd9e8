// The main window's commands: each takes the selection kind, fills the work area and opens one window.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "kdlw/app/about_box.h"
#include "kdlw/app/main_form.h"
#include "kdlw/app/mounts.h"
#include "kdlw/common/desktop_opener.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/components/image_file_info.h"

namespace kdlw {
namespace {

constexpr int32_t kImageFlags = kdl::kOpenFirst | kdl::kCloseAfter;
// What the image dialog is given for a new image.
constexpr int32_t kCreateImageFlags = 6;
constexpr int32_t kArchiveFlags = kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter;
constexpr int32_t kNewArchiveFlags = kdl::kCloseArchiveAfter | kdl::kCreateArchive;
const QString kRawFilter = QStringLiteral(
    "imgファイル(*.img);;他のツールのディスクイメージ (*.d88 *.d98 *.88d *.hdm *.fdi *.imd *.img.gz "
    "*.ima.gz);;"
    "すべてのファイル(*)");
// The formats raw output offers; the chosen name's extension decides which is written.
const QString kRawOutputFilter = QStringLiteral(
    "imgファイル(*.img);;D88 (*.d88 *.d98 *.88d);;FDI (*.fdi);;HDM 1.25M (*.hdm);;ImageDisk (*.imd);;"
    "gzip img (*.img.gz);;すべてのファイル(*)");
const QString kRawTitle = QStringLiteral("img FILE Select");

// The full form of a path given on the command line.
QString LongPathName(const QString& path) { return QFileInfo(path).absoluteFilePath(); }

}  // namespace

int TMainForm::GetFname() {
  const QList<int> rows = fileView1_->SelectedRows();
  if (rows.size() != 1) return kKindNone;
  const FileRow& row = fileView1_->Model().Row(rows.front());
  selectedPath_ = QDir(TreeFolder()).filePath(row.name);
  // A folder is never an image, whatever its name ends in.
  if (row.folder) return kKindOther;
  // Another tool's disk image is worked with as an image (read only).
  if (IsImageFileName(row.name)) return kKindImage;
  if (QFileInfo(row.name).suffix().toUpper() == QLatin1String("KDZ")) return kKindArchive;
  return kKindOther;
}

void TMainForm::RefreshIfChanged() {
  if (context_.work.image.listChanged) fileView1_->Relist();
  context_.work.image.listChanged = false;
}

void TMainForm::Refresh() {
  fileView1_->Relist();
  folderView1_->RefreshSelected();
}

void TMainForm::Open() {
  const int kind = GetFname();
  WorkArea& work = context_.work;
  if (kind == kKindImage && context_.windows.browse) {
    work.image.currentImagePath = selectedPath_.toStdString();
    context_.windows.browse(this);
    RefreshIfChanged();
  } else if (kind == kKindArchive && context_.windows.archive) {
    work.archive.path = selectedPath_.toStdString();
    context_.windows.archive(this);
    RefreshIfChanged();
  }
}

void TMainForm::Restore() {
  const int kind = GetFname();
  WorkArea& work = context_.work;
  work.image.dialogMode = kind;
  if (kind == kKindImage && context_.windows.imageDialog) {
    work.image.openCloseFlags = kImageFlags;
    work.image.currentImagePath = selectedPath_.toStdString();
    context_.windows.imageDialog(this);
  } else if (kind == kKindArchive && context_.windows.archiveDialog) {
    work.image.openCloseFlags = kArchiveFlags;
    work.archive.path = selectedPath_.toStdString();
    context_.windows.archiveDialog(this);
  }
}

void TMainForm::CopyAll() {
  const int kind = GetFname();
  WorkArea& work = context_.work;
  work.image.dialogMode = kind;
  if (kind == kKindImage) {
    work.image.openCloseFlags = kImageFlags;
    work.image.currentImagePath = selectedPath_.toStdString();
  } else if (kind == kKindArchive) {
    work.image.openCloseFlags = kArchiveFlags;
    work.archive.path = selectedPath_.toStdString();
  } else {
    return;
  }
  if (context_.windows.copy) context_.windows.copy(this);
}

void TMainForm::CreateImage() {
  if (!context_.windows.imageDialog) return;
  // Another tool's disk image selected in the list is offered as the drive to read.
  context_.work.createSource =
      GetFname() == kKindImage && IsOtherToolsImageName(selectedPath_) ? selectedPath_ : QString();
  kdl::ImageWork& work = context_.work.image;
  work.openCloseFlags = kCreateImageFlags;
  work.dialogMode = kdl::kModeCreate;
  work.currentImagePath.clear();
  context_.windows.imageDialog(this);
  RefreshIfChanged();
}

void TMainForm::CreateOrUpdateArchive() {
  if (!context_.windows.archiveDialog) return;
  const int kind = GetFname();
  WorkArea& work = context_.work;
  if (kind == kKindArchive) {
    work.image.openCloseFlags = kArchiveFlags;
    work.archive.path = selectedPath_.toStdString();
  } else {
    // Anything but an archive selected (or nothing) starts a new archive.
    work.image.openCloseFlags = kNewArchiveFlags;
    work.archive.path.clear();
  }
  work.image.dialogMode = kdl::kModeCreate;
  context_.windows.archiveDialog(this);
  RefreshIfChanged();
}

void TMainForm::Labels() {
  const int kind = GetFname();
  WorkArea& work = context_.work;
  work.image.dialogMode = kdl::kModeLabels;
  if (kind == kKindImage && context_.windows.imageDialog) {
    work.image.openCloseFlags = kImageFlags;
    work.image.currentImagePath = selectedPath_.toStdString();
    context_.windows.imageDialog(this);
  } else if (kind == kKindArchive && context_.windows.archiveDialog) {
    work.image.openCloseFlags = kArchiveFlags;
    work.archive.path = selectedPath_.toStdString();
    context_.windows.archiveDialog(this);
  }
  RefreshIfChanged();
}

void TMainForm::Test() {
  const int kind = GetFname();
  WorkArea& work = context_.work;
  if (context_.windows.viewer && (kind == kKindImage || kind == kKindArchive)) {
    if (kind == kKindImage) {
      work.image.openCloseFlags = kImageFlags;
      work.image.currentImagePath = selectedPath_.toStdString();
      work.viewerMode = kViewerImageListing;
    } else {
      work.image.openCloseFlags = kArchiveFlags;
      work.archive.path = selectedPath_.toStdString();
      work.viewerMode = kViewerArchiveReport;
    }
    context_.windows.viewer(this);
  }
  RefreshIfChanged();
}

void TMainForm::OpenRawImage() {
  if (!context_.windows.browse) return;
  if (openDialogFolder_.isEmpty()) openDialogFolder_ = TreeFolder();
  const QString file = context_.dialogs.OpenFileName(this, kRawTitle, openDialogFolder_, kRawFilter);
  if (file.isEmpty()) return;
  kdl::ImageWork& work = context_.work.image;
  work.rawImagePath = file.toStdString();
  work.currentImagePath = work.rawImagePath;
  openDialogFolder_ = QFileInfo(file).path();
  work.dialogMode = kdl::kModeOpenRaw;
  work.openCloseFlags = kImageFlags;
  context_.windows.browse(this);
  work.dialogMode = kdl::kModeCreate;
}

void TMainForm::RawImageOutput() {
  if (!context_.windows.imageDialog || GetFname() != kKindImage) return;
  if (saveDialogFolder_.isEmpty()) saveDialogFolder_ = TreeFolder();
  const QString file = context_.dialogs.SaveFileName(this, kRawTitle, saveDialogFolder_, kRawOutputFilter);
  if (file.isEmpty()) return;
  kdl::ImageWork& work = context_.work.image;
  work.rawImagePath = file.toStdString();
  saveDialogFolder_ = QFileInfo(file).path();
  work.dialogMode = kdl::kModeRawOutput;
  work.openCloseFlags = kImageFlags;
  work.currentImagePath = selectedPath_.toStdString();
  context_.windows.imageDialog(this);
  work.dialogMode = kdl::kModeCreate;
  RefreshIfChanged();
}

void TMainForm::Mount() {
  const int kind = GetFname();
  if (kind != kKindImage && kind != kKindArchive) return;
  QString error;
  const QString mountpoint = mounts_->Mount(selectedPath_, error);
  if (mountpoint.isEmpty()) {
    context_.dialogs.Message(this, QStringLiteral("KDLW"),
                             QStringLiteral("%1 をマウントできません\n%2").arg(selectedPath_, error),
                             kdl::Buttons::kOk, kdl::Icon::kStop);
    return;
  }
  // Without a file manager the mount is still there: the user is told where to find it.
  // The opener is the window's own: it is gone, and this never runs, once the window is.
  opener_->Open(mountpoint, [this, mountpoint] {
    context_.dialogs.Message(
        isVisible() ? this : nullptr, QStringLiteral("KDLW"),
        QStringLiteral("%1 にマウントしました\nフォルダを開くプログラムが見つかりません").arg(mountpoint),
        kdl::Buttons::kOk, kdl::Icon::kInformation);
  });
}

void TMainForm::RunCommandLine() {
  folderView1_->SetPath({});
  const QString parameter = options_.parameters.value(0);
  const QString suffix = QFileInfo(parameter).suffix().toUpper();
  WorkArea& work = context_.work;
  if (suffix == QLatin1String("KDL") && context_.windows.browse) {
    work.image.currentImagePath = LongPathName(parameter).toStdString();
    context_.windows.browse(this);
  } else if (suffix == QLatin1String("KDZ") && context_.windows.archive) {
    work.archive.path = LongPathName(parameter).toStdString();
    context_.windows.archive(this);
  }
  close();
  emit CommandLineFinished();
}

void TMainForm::About() {
  TAboutBox box(this);
  box.exec();
}

void TMainForm::AskQuit() {
  const kdl::Answer answer =
      context_.dialogs.Message(this, QStringLiteral("KDLW"), QStringLiteral("ＫＤＬＷ　終了しますか？"),
                               kdl::Buttons::kYesNo, kdl::Icon::kQuestion);
  if (answer == kdl::Answer::kYes) close();
}

}  // namespace kdlw
