// The browse window's commands that change the image: add files and folders (by the 追加 button, the 編集
// menu or dropping them from the desktop's file manager), a new folder, delete, rename, attributes and the
// volume label. Each runs as one edit of the image (edit/image_edit.h): nothing is written unless the whole
// change succeeds.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolButton>
#include <QTreeWidget>

#include "browse/fat.h"
#include "edit/edit_ops.h"
#include "edit/put.h"
#include "kdlw/browse/attrib_form.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/common/tool_button.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

const QString kCaptionDelete = QStringLiteral("ファイル削除");
// Where the tool bar's add button goes: after Dump, before the label button.
constexpr int kEditButtonsAt = 4;

// Takes files dropped from the desktop's file manager on the list.
class DropTarget : public QObject {
 public:
  DropTarget(QWidget* widget, std::function<void(const QStringList&)> drop)
      : QObject(widget), drop_(std::move(drop)) {
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (LocalPaths(drag->mimeData()).isEmpty()) return false;
        drag->acceptProposedAction();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = LocalPaths(drop->mimeData());
        if (paths.isEmpty()) return false;
        drop->acceptProposedAction();
        drop_(paths);
        return true;
      }
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  static QStringList LocalPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
      if (!url.isLocalFile()) return {};
      paths << url.toLocalFile();
    }
    return paths;
  }

  std::function<void(const QStringList&)> drop_;
};

QAction* AddAction(QMenu* menu, const char* name, const QString& caption, const std::function<void()>& run) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  QObject::connect(action, &QAction::triggered, menu, run);
  return action;
}

}  // namespace

void TKDLForm::BuildEditControls() {
  editMenu_ = new QMenu(QStringLiteral("編集(&M)"), this);
  editMenu_->setObjectName(QStringLiteral("EditMenu"));
  AddAction(editMenu_, "KAddFiles", QStringLiteral("ファイルの追加(&A)..."), [this] { AddFilesCommand(); });
  AddAction(editMenu_, "KAddFolder", QStringLiteral("フォルダの追加(&F)..."), [this] { AddFolderCommand(); });
  AddAction(editMenu_, "KNewFolder", QStringLiteral("新しいフォルダ(&N)..."), [this] { NewFolderCommand(); });
  editMenu_->addSeparator();
  AddAction(editMenu_, "KDelete", QStringLiteral("削除(&X)"), [this] { DeleteCommand(); });
  AddAction(editMenu_, "KRename", QStringLiteral("名前の変更(&M)..."), [this] { RenameCommand(); });
  AddAction(editMenu_, "KAttrib", QStringLiteral("属性の変更(&T)..."), [this] { AttributesCommand(); });
  editMenu_->addSeparator();
  AddAction(editMenu_, "KVolume", QStringLiteral("ボリュームラベル(&B)..."),
            [this] { VolumeLabelCommand(); });

  sbAdd_ = MakeToolButton(panel1_, "sbAdd", QStringLiteral("追加(&A)"),
                          QStringLiteral("ファイルをＫＤＬの中に追加します"));
  if (auto* row = qobject_cast<QHBoxLayout*>(panel1_->layout())) row->insertWidget(kEditButtonsAt, sbAdd_);
  connect(sbAdd_, &QToolButton::clicked, this, &TKDLForm::AddFilesCommand);
  // The menu bar carries the same commands after the window menu.
  menuBar1_->addMenu(editMenu_);

  listView1_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(listView1_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { editMenu_->popup(listView1_->viewport()->mapToGlobal(pos)); });
  new DropTarget(listView1_->viewport(), [this](const QStringList& paths) { AddHostPaths(paths); });

  pbEdit_ = new QProgressBar(statusBar1_);
  pbEdit_->setObjectName(QStringLiteral("pbEdit"));
  pbEdit_->setMaximumWidth(160);
  pbEdit_->setTextVisible(false);
  statusBar1_->addPermanentWidget(pbEdit_);
  pbEdit_->hide();
  runDialog = [](QDialog& dialog) { return dialog.exec(); };
}

bool TKDLForm::HandleEditKey(QKeyEvent* key) {
  if (busy_) {
    // While a change is written only Esc counts: it asks whether to stop.
    if (key->key() == Qt::Key_Escape) context_.prompter.RequestCancel();
    return true;
  }
  switch (key->key()) {
    case Qt::Key_A:
    case Qt::Key_Insert:
      AddFilesCommand();
      return true;
    case Qt::Key_N:
      NewFolderCommand();
      return true;
    case Qt::Key_Delete:
      DeleteCommand();
      return true;
    case Qt::Key_F2:
      RenameCommand();
      return true;
    case Qt::Key_T:
      AttributesCommand();
      return true;
    case Qt::Key_B:
      VolumeLabelCommand();
      return true;
    default:
      return false;
  }
}

bool TKDLForm::RunEdit(const std::function<bool(kdl::ImageEdit&)>& change) {
  if (busy_ || !image_->IsOpen()) return false;
  busy_ = true;
  kdl::ImageWork& work = context_.work.image;
  work.cancelRequested = false;
  pbEdit_->setValue(0);
  pbEdit_->show();
  bool ok = false;
  {
    ProgressScope scope(context_.prompter, pbEdit_, statusBar1_);
    kdl::ImageEdit edit(*image_);
    if (edit.Begin(ToUtf8(imagePath_)) && change(edit)) ok = edit.Commit();
  }
  pbEdit_->hide();
  statusBar1_->clearMessage();
  busy_ = false;
  // A commit closes the image, whether or not it could write it.
  if (!image_->IsOpen() || ok) Reload();
  if (ok) work.listChanged = true;
  return ok;
}

void TKDLForm::Reload() {
  kdl::ImageWork& work = context_.work.image;
  const int32_t mode = work.dialogMode;
  const std::string rawPath = work.rawImagePath;
  image_->CloseImage();
  if (raw_) {
    work.dialogMode = kdl::kModeOpenRaw;
    work.rawImagePath = ToUtf8(imagePath_);
  }
  const bool open = image_->OpenImage(ToUtf8(imagePath_)) >= 0;
  work.dialogMode = mode;
  work.rawImagePath = rawPath;
  if (!open) {
    close();
    return;
  }
  BuildTree();
  // The directory shown before, found again by its cluster (a rename or a move does not change it).
  const uint16_t wanted = currentDir_;
  currentDir_ = 0;
  kdl::DirectoryTable shown = image_->root;
  std::vector<kdl::DirectoryTable> pending{image_->root};
  for (size_t i = 0; wanted != 0 && i < pending.size() && i < 4096; ++i) {
    for (const kdl::DirectoryEntry& e : pending[i]) {
      if (!e.IsDirectory() || e.NameByte(0) == '.') continue;
      kdl::DirectoryTable sub = kdl::LoadSubdirectory(*image_, e);
      if (e.FirstCluster() == wanted) {
        currentDir_ = wanted;
        shown = sub;
        pending.clear();
        break;
      }
      pending.push_back(std::move(sub));
    }
  }
  ListDirectory(std::move(shown));
  if (currentDir_ == 0) treeView1_->setCurrentItem(treeView1_->topLevelItem(0));
}

std::vector<const kdl::ListItem*> TKDLForm::SelectedEntries() const {
  std::vector<const kdl::ListItem*> entries;
  for (size_t row = 0; row < items_.size(); ++row) {
    if (!listView1_->topLevelItem(static_cast<int>(row))->isSelected()) continue;
    const kdl::ListItem& item = items_[row];
    if (item.typeText == kdl::kLabelTypeText || item.index >= current_.size()) continue;
    const kdl::DirectoryEntry& e = current_[item.index];
    if (e.IsDotEntry() || e.IsDotDotEntry()) continue;
    entries.push_back(&item);
  }
  return entries;
}

std::vector<kdl::FatNode> TKDLForm::SelectedNodes(const kdl::FatVolume& volume) const {
  // An entry is found again by its 8.3 name, which is unique in its directory.
  std::vector<kdl::FatNode> nodes;
  const std::vector<kdl::FatNode> children = volume.Children(currentDir_);
  for (const kdl::ListItem* item : SelectedEntries()) {
    const kdl::ShortName11 name = kdl::ShortNameOf(current_[item->index]);
    for (const kdl::FatNode& node : children) {
      if (kdl::ShortNameOf(node.entry) == name) nodes.push_back(node);
    }
  }
  return nodes;
}

bool TKDLForm::AddHostPaths(const QStringList& paths) {
  if (paths.isEmpty()) return false;
  std::vector<std::filesystem::path> sources;
  for (const QString& p : paths) sources.emplace_back(ToUtf8(p));
  kdl::PutOptions options;
  // The window asks about every entry that would be replaced.
  options.policy = kdl::OverwritePolicy::kAsk;
  options.recursive = true;
  return RunEdit([&](kdl::ImageEdit& edit) {
    return kdl::PutHostFiles(*image_, edit.volume(), currentDir_, sources, options);
  });
}

void TKDLForm::AddFilesCommand() {
  const QString folder = context_.mainFolder ? context_.mainFolder() : QString();
  AddHostPaths(context_.dialogs.OpenFileNames(this, QStringLiteral("追加するファイル"), folder));
}

void TKDLForm::AddFolderCommand() {
  const QString folder = context_.mainFolder ? context_.mainFolder() : QString();
  const QString chosen = context_.dialogs.ExistingFolder(this, QStringLiteral("追加するフォルダ"), folder);
  if (!chosen.isEmpty()) AddHostPaths({chosen});
}

void TKDLForm::NewFolderCommand() {
  const std::optional<QString> name =
      context_.dialogs.InputText(this, QStringLiteral("新しいフォルダ"), QStringLiteral("フォルダ名:"),
                                 QStringLiteral("新しいフォルダ"));
  if (!name || name->trimmed().isEmpty()) return;
  RunEdit([&](kdl::ImageEdit& edit) { return kdl::MakeDirectoryIn(edit, currentDir_, ToUtf8(*name)); });
}

void TKDLForm::DeleteCommand() {
  const std::vector<const kdl::ListItem*> entries = SelectedEntries();
  if (entries.empty()) return;
  std::string first;
  kdl::EntryDisplayName(current_, entries.front()->index, first);
  const QString question = entries.size() == 1
                               ? QStringLiteral("%1 を削除しますか？").arg(FromUtf8(first))
                               : QStringLiteral("選択した %1 個の項目を削除しますか？").arg(entries.size());
  if (context_.dialogs.Message(this, kCaptionDelete, question, kdl::Buttons::kYesNo, kdl::Icon::kQuestion) !=
      kdl::Answer::kYes)
    return;
  RunEdit([&](kdl::ImageEdit& edit) {
    for (const kdl::FatNode& node : SelectedNodes(edit.volume())) {
      if (!kdl::RemoveEntry(edit, node, kdl::EntryPath(edit.volume(), node))) return false;
    }
    return true;
  });
}

void TKDLForm::RenameCommand() {
  const std::vector<const kdl::ListItem*> entries = SelectedEntries();
  if (entries.size() != 1) return;
  std::string old;
  kdl::EntryDisplayName(current_, entries.front()->index, old);
  const std::optional<QString> name = context_.dialogs.InputText(
      this, FromUtf8(old) + QStringLiteral(" の名称変更"), QStringLiteral("NewName:"), FromUtf8(old));
  if (!name || *name == FromUtf8(old) || name->isEmpty()) return;
  RunEdit([&](kdl::ImageEdit& edit) {
    const std::vector<kdl::FatNode> nodes = SelectedNodes(edit.volume());
    if (nodes.size() != 1) return false;
    const std::string shown = kdl::EntryPath(edit.volume(), nodes.front());
    return kdl::RenameEntry(edit, nodes.front(), currentDir_, ToUtf8(*name), shown);
  });
}

void TKDLForm::AttributesCommand() {
  const std::vector<const kdl::ListItem*> entries = SelectedEntries();
  if (entries.empty()) return;
  std::vector<uint8_t> attributes;
  QStringList names;
  for (const kdl::ListItem* item : entries) {
    attributes.push_back(current_[item->index].Attribute());
    std::string name;
    kdl::EntryDisplayName(current_, item->index, name);
    names << FromUtf8(name);
  }
  TAttribForm form(this);
  form.SetEntries(names.join(QStringLiteral(", ")), attributes);
  if (runDialog(form) != QDialog::Accepted) return;
  const uint8_t set = form.BitsToSet(), clear = form.BitsToClear();
  RunEdit([&](kdl::ImageEdit& edit) {
    for (const kdl::FatNode& node : SelectedNodes(edit.volume())) {
      edit.volume().SetAttributes(node, static_cast<uint8_t>((node.entry.Attribute() | set) & ~clear));
    }
    return true;
  });
}

void TKDLForm::VolumeLabelCommand() {
  QString current;
  for (const kdl::DirectoryEntry& e : image_->root) {
    if (!e.IsVolumeLabel()) continue;
    current = FromUtf8(kdl::LabelEntryText(e));
    break;
  }
  const std::optional<QString> label =
      context_.dialogs.InputText(this, QStringLiteral("ボリュームラベル"),
                                 QStringLiteral("ボリュームラベル（半角11文字まで）:"), current);
  if (!label || *label == current) return;
  RunEdit([&](kdl::ImageEdit& edit) { return kdl::ChangeVolumeLabel(edit, ToUtf8(*label)); });
}

}  // namespace kdlw
