// The browse window's commands: opening a list item, the copy, view, dump, restore and label commands,
// and the keys that start them.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "browse/copyout.h"
#include "browse/fat.h"
#include "browse/host_names.h"
#include "common/temp_files.h"
#include "kdlw/browse/copy_form.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/browse/view_form.h"
#include "kdlw/image/form_support.h"
#include "kdlw/image/kdi_form.h"

namespace kdlw {

void TKDLForm::OpenSelectedItem() {
  const kdl::ListItem* item = SelectedItem();
  if (item == nullptr || item->typeText == kdl::kLabelTypeText) return;
  if (item->index >= current_.size()) return;
  if (item->typeText == kdl::kDirectoryTypeText) {
    // ".." of a first-level directory names cluster 0, which stands for the root.
    currentDir_ = current_[item->index].FirstCluster();
    image_->BeginOperation();
    ListDirectory(kdl::LoadSubdirectory(*image_, current_[item->index]));
    return;
  }
  if (itemMode_ == kItemOpen) {
    OpenWithDesktop(*item);
  } else {
    ShowFile(*item);
  }
}

void TKDLForm::ShowFile(const kdl::ListItem& item) {
  if (viewer_ == nullptr) return;
  viewer_->SetFile(&current_, item.index,
                   itemMode_ == kItemDump ? kdl::ViewMode::kDump : kdl::ViewMode::kText);
  const int32_t viewerMode = context_.work.viewerMode;
  context_.work.viewerMode = kViewerFile;
  // The browse window steps aside while the viewer is up and comes back as it was, without reading again.
  hide();
  viewer_->Run(this);
  context_.work.viewerMode = viewerMode;
  show();
  raise();
  activateWindow();
}

void TKDLForm::OpenWithDesktop(const kdl::ListItem& item) {
  statusBar1_->showMessage(QStringLiteral("ファイルオープン中"));
  if (!tempDir_) {
    // Copies that a killed run left behind go first; the new folder carries this process's id for the same.
    kdl::RemoveStaleTemporaryFolders(ToUtf8(QDir::tempPath()), "kdlw");
    tempDir_ = std::make_unique<QTemporaryDir>(
        QDir(QDir::tempPath())
            .filePath(QStringLiteral("kdlw-%1-XXXXXX").arg(QCoreApplication::applicationPid())));
  }
  if (!tempDir_->isValid()) {
    image_->ShowImageError("一時フォルダが作れません");
    tempDir_.reset();
    statusBar1_->clearMessage();
    return;
  }
  std::string name;
  kdl::EntryDisplayName(current_, item.index, name);
  const QString file = QDir(tempDir_->path()).filePath(FromUtf8(kdl::SafeHostName(name)));
  RememberTempFile(file);
  const uint64_t errorsBefore = image_->errorsShown;
  const int32_t copied =
      kdl::CopyFileOut(*image_, current_, item.index, std::filesystem::path(ToUtf8(tempDir_->path())),
                       kdl::OverwritePolicy::kAll, false);
  // Only a complete copy is handed to the desktop: a copy from a damaged image has been told and is kept.
  const bool complete = copied == 0 && image_->errorsShown == errorsBefore;
  if (complete && QFileInfo::exists(file) && openUrl) openUrl(QUrl::fromLocalFile(file));
  statusBar1_->clearMessage();
}

void TKDLForm::SayNoProgramFor(const QString& file) {
  context_.dialogs.Message(
      isVisible() ? this : nullptr, FromUtf8(std::string(kdl::kCaptionImage)),
      QStringLiteral("%1 を開くプログラムが見つかりません").arg(QFileInfo(file).fileName()),
      kdl::Buttons::kOk, kdl::Icon::kStop);
}

void TKDLForm::RememberTempFile(const QString& name) {
  // A program that still has the previous copy open may keep it; that copy then stays until the folder goes.
  if (!tempFile_.isEmpty()) QFile::remove(tempFile_);
  tempFile_ = name;
}

void TKDLForm::CopyCommand() {
  if (copy_ == nullptr) return;
  kdl::ImageWork& work = context_.work.image;
  std::vector<kdl::SelectionItem> selection;
  bool any = false;
  for (size_t row = 0; row < items_.size(); ++row) {
    const bool selected = listView1_->topLevelItem(static_cast<int>(row))->isSelected();
    any = any || selected;
    selection.push_back({items_[row].caption, items_[row].typeText, selected});
  }
  const int32_t mode = work.dialogMode;
  const int32_t flags = work.openCloseFlags;
  work.dialogMode = any ? kCopySelection : kCopyWholeImage;
  work.openCloseFlags = 0;
  copy_->SetSelection(&current_, std::move(selection));
  copy_->Run(this);
  work.dialogMode = mode;
  work.openCloseFlags = flags;
}

void TKDLForm::ViewCommand() {
  itemMode_ = kItemText;
  OpenSelectedItem();
  itemMode_ = kItemOpen;
}

void TKDLForm::DumpCommand() {
  itemMode_ = kItemDump;
  OpenSelectedItem();
  itemMode_ = kItemOpen;
}

void TKDLForm::RestoreCommand() { RunImageDialog(kdl::kModeRestore); }

void TKDLForm::LabelCommand() { RunImageDialog(kdl::kModeLabels); }

void TKDLForm::RunImageDialog(int32_t mode) {
  if (imageDialog_ == nullptr) return;
  kdl::ImageWork& work = context_.work.image;
  const int32_t savedMode = work.dialogMode;
  const int32_t savedFlags = work.openCloseFlags;
  work.dialogMode = mode;
  // The image is open here and stays open.
  work.openCloseFlags = 0;
  imageDialog_->Run(this);
  work.dialogMode = savedMode;
  work.openCloseFlags = savedFlags;
}

bool TKDLForm::HandleKey(QKeyEvent* key, QWidget* target) {
  if (HandleEditKey(key)) return true;
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      OpenSelectedItem();
      // On the tree, Enter also lists the current folder, as a click does.
      if (target == treeView1_) ListTreeNode(treeView1_->currentItem());
      return true;
    case Qt::Key_Escape:
    case Qt::Key_E:
      close();
      return true;
    case Qt::Key_C:
      CopyCommand();
      return true;
    case Qt::Key_D:
      DumpCommand();
      return true;
    case Qt::Key_L:
      LabelCommand();
      return true;
    case Qt::Key_R:
      RestoreCommand();
      return true;
    case Qt::Key_V:
      ViewCommand();
      return true;
    default:
      return false;
  }
}

}  // namespace kdlw
