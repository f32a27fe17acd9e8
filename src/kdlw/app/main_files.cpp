// Deleting and renaming the selected file or folder of the main window's list.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "kdlw/app/main_form.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/trash.h"

namespace kdlw {
namespace {

bool PathTaken(const QString& path) {
  const QFileInfo info(path);
  return info.exists() || info.isSymLink();
}

}  // namespace

void TMainForm::DeleteSelected() {
  if (GetFname() == kKindNone) return;
  const QString path = selectedPath_;
  const QString caption = QStringLiteral("ファイルの削除");
  const QString name = QFileInfo(path).fileName();
  // Deleting goes to the desktop's trash, from where the user can take the file back.
  const kdl::Answer answer =
      context_.dialogs.Message(this, caption, QStringLiteral("%1 をごみ箱に移動しますか？").arg(name),
                               kdl::Buttons::kYesNo, kdl::Icon::kQuestion);
  if (answer != kdl::Answer::kYes) return;
  if (!MoveToTrash(path)) {
    context_.dialogs.Message(this, caption, QStringLiteral("%1 をごみ箱に移動できませんでした。").arg(name),
                             kdl::Buttons::kOk, kdl::Icon::kStop);
  }
  fileView1_->Relist();
}

void TMainForm::RenameSelected() {
  if (GetFname() == kKindNone) return;
  const QString from = selectedPath_;
  const QString caption = from + QStringLiteral(" の名称変更");
  const QString answer =
      context_.dialogs.InputText(this, caption, QStringLiteral("NewName:"), from).value_or(from);
  if (answer == from) return;
  // A bare name stays in the folder of the item it renames.
  const QString to = QDir::cleanPath(QDir(QFileInfo(from).path()).absoluteFilePath(answer));
  if (to == QDir::cleanPath(from)) return;
  // Never replace what already has the new name.
  bool renamed = false;
  if (!answer.trimmed().isEmpty() && !PathTaken(to)) {
    renamed = QFileInfo(from).isDir() ? QDir().rename(from, to) : QFile::rename(from, to);
  }
  if (!renamed) {
    context_.dialogs.Message(this, caption,
                             QStringLiteral("%1 の名称を %2 に変更できませんでした。").arg(from, to),
                             kdl::Buttons::kOk, kdl::Icon::kStop);
  }
  fileView1_->Relist();
}

}  // namespace kdlw
