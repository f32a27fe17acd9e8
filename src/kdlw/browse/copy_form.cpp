#include "kdlw/browse/copy_form.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStorageInfo>
#include <QVBoxLayout>

#include "archive/archive_runs.h"
#include "kdlw/archive/not_archive.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/placement.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

constexpr int kSpacing = 6;

const QString kCaption = QStringLiteral("FILE Copy");
const QString kTargetCaption = QStringLiteral("Copy");
const QString kBadTarget = QStringLiteral("ディレクトリ指定エラー");
const QString kCannotCreate = QStringLiteral("コピー先ディレクトリが作れません");

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  return button;
}

// The roots of the mounted file systems a copy could go to, in path order.
QStringList VolumeRoots() {
  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) roots << volume.rootPath();
  }
  roots.removeDuplicates();
  roots.sort();
  return roots;
}

}  // namespace

TCopyForm::TCopyForm(AppContext& context, kdl::ImageState& image, QWidget* parent)
    : QDialog(parent), context_(context), image_(image) {
  setObjectName(QStringLiteral("CopyForm"));
  setWindowTitle(kCaption);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(JapaneseUiFont(12));
  BuildControls();
  keys_ = new KeyPreview(this, [this](QKeyEvent* key, QWidget*) {
    if (key->key() != Qt::Key_Escape) return false;
    btnCancelClick();
    return true;
  });
}

TCopyForm::~TCopyForm() = default;

void TCopyForm::BuildControls() {
  label1_ = new QLabel(QStringLiteral("コピー先　："), this);
  label1_->setObjectName(QStringLiteral("Label1"));
  eCopyDir_ = new QLineEdit(this);
  eCopyDir_->setObjectName(QStringLiteral("eCopyDir"));
  dlbCopy_ = new TFolderView(this);
  dlbCopy_->setObjectName(QStringLiteral("dlbCopy"));
  dlbCopy_->setMinimumSize(220, 200);
  driveCopy_ = new QComboBox(this);
  driveCopy_->setObjectName(QStringLiteral("driveCopy"));
  driveCopy_->addItems(VolumeRoots());
  auto* group = new QGroupBox(QStringLiteral("同一名ファイル"), this);
  group->setObjectName(QStringLiteral("GroupBox1"));
  const QString captions[] = {QStringLiteral("新しいファイルは上書き"), QStringLiteral("全て上書き"),
                              QStringLiteral("確認する"), QStringLiteral("スキップ")};
  auto* radios = new QVBoxLayout(group);
  for (size_t i = 0; i < rbName_.size(); ++i) {
    rbName_[i] = new QRadioButton(captions[i], group);
    rbName_[i]->setObjectName(QStringLiteral("rbName%1").arg(i + 1));
    radios->addWidget(rbName_[i]);
  }
  cbDirectory_ = new QCheckBox(QStringLiteral("ディレクトリを有効にする"), this);
  cbDirectory_->setObjectName(QStringLiteral("cbDirectory"));
  btnGo_ = MakeButton(this, "btnGo", QStringLiteral("実行(&G)"));
  btnCancel_ = MakeButton(this, "btnCancel", QStringLiteral("キャンセル(&C)"));
  // Enter runs the copy from anywhere in the dialog but the Cancel button.
  btnGo_->setDefault(true);
  lblFile_ = new QLabel(this);
  lblFile_->setObjectName(QStringLiteral("lblFile"));
  pbCopy_ = new QProgressBar(this);
  pbCopy_->setObjectName(QStringLiteral("pbCopy"));
  pbCopy_->setRange(0, 100);
  pbCopy_->setValue(0);
  pbCopy_->setTextVisible(false);
  sbStatus_ = MakeSimpleStatusBar(this, "sbStatus");

  auto* target = new QHBoxLayout;
  target->addWidget(label1_);
  target->addWidget(eCopyDir_, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(group);
  right->addWidget(cbDirectory_);
  right->addStretch(1);
  right->addWidget(btnGo_);
  right->addWidget(btnCancel_);
  auto* left = new QVBoxLayout;
  left->addWidget(dlbCopy_, 1);
  left->addWidget(driveCopy_);
  auto* middle = new QHBoxLayout;
  middle->addLayout(left, 1);
  middle->addLayout(right);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(10, 10, 10, 6);
  // Set here: a layout inside another takes the outer one's spacing, which is none.
  body->setSpacing(kSpacing);
  body->addLayout(target);
  body->addLayout(middle, 1);
  body->addWidget(lblFile_);
  body->addWidget(pbCopy_);
  // The status bar runs along the whole foot of the dialog.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(body, 1);
  column->addWidget(sbStatus_);
  resize(460, 420);

  connect(dlbCopy_, &TFolderView::Changed, this, &TCopyForm::FolderChanged);
  connect(driveCopy_, &QComboBox::activated, this, &TCopyForm::DriveChosen);
  connect(btnGo_, &QPushButton::clicked, this, &TCopyForm::btnGoClick);
  connect(btnCancel_, &QPushButton::clicked, this, &TCopyForm::btnCancelClick);
}

void TCopyForm::SetSelection(const kdl::DirectoryTable* current, std::vector<kdl::SelectionItem> items) {
  current_ = current;
  items_ = std::move(items);
}

void TCopyForm::Run(QWidget* owner) {
  Prepare();
  PlaceOver(this, owner);
  exec();
}

void TCopyForm::Prepare() {
  kdl::ImageWork& work = context_.work.image;
  work.busy = false;
  work.cancelRequested = false;
  btnGo_->setEnabled(true);
  lblFile_->clear();
  pbCopy_->setValue(0);
  sbStatus_->clearMessage();
  if (target_.isEmpty() && context_.mainFolder) target_ = context_.mainFolder();
  // The tree selects the nearest existing folder; the edit keeps the folder as remembered.
  if (!target_.isEmpty()) dlbCopy_->SetPath(target_);
  eCopyDir_->setText(target_);
  const auto policy = static_cast<size_t>(policy_);
  rbName_[policy < rbName_.size() ? policy : 0]->setChecked(true);
  cbDirectory_->setChecked(!flatten_);
  eCopyDir_->setFocus();
  const bool archive = work.dialogMode == kCopyAllImages;
  setWindowTitle(kCaption + QStringLiteral(" : ") +
                 FromUtf8(archive ? context_.work.archive.path : work.currentImagePath));
}

void TCopyForm::FolderChanged(const QString& path) {
  eCopyDir_->setText(path);
  const int volume = driveCopy_->findText(QStorageInfo(path).rootPath());
  if (volume >= 0) driveCopy_->setCurrentIndex(volume);
}

void TCopyForm::DriveChosen(int index) {
  if (index >= 0) dlbCopy_->SetPath(driveCopy_->itemText(index));
}

void TCopyForm::btnGoClick() {
  flatten_ = !cbDirectory_->isChecked();
  for (size_t i = 0; i < rbName_.size(); ++i) {
    if (rbName_[i]->isChecked()) {
      policy_ = static_cast<kdl::OverwritePolicy>(i);
      break;
    }
  }
  target_ = eCopyDir_->text();
  if (!CheckTarget(target_)) return;

  kdl::ImageWork& work = context_.work.image;
  btnGo_->setEnabled(false);
  work.busy = true;
  btnCancel_->setFocus();
  work.dialogResult = RunJob(std::filesystem::path(ToUtf8(QDir::cleanPath(target_))));
  work.busy = false;
  work.cancelRequested = false;
  accept();
}

bool TCopyForm::CheckTarget(const QString& target) {
  // Only a full path names a folder unambiguously; a relative one would depend on where the program started.
  if (target.isEmpty() || !QDir::isAbsolutePath(target)) {
    TargetError(kBadTarget);
    return false;
  }
  const QString folder = QDir::cleanPath(target);
  const QFileInfo info(folder);
  // The root of a mounted file system stands for a drive root: it must be one we can write to.
  const QStorageInfo volume(folder);
  if (info.isDir() && volume.isValid() && volume.rootPath() == folder) {
    if (!volume.isReady() || volume.isReadOnly()) {
      TargetError(kBadTarget);
      return false;
    }
    return true;
  }
  if (info.exists() || info.isSymLink()) {
    if (info.isDir()) return true;
    TargetError(kBadTarget);
    return false;
  }
  const QString question = QStringLiteral("%1 は存在しません。作成しますか？").arg(target);
  if (context_.dialogs.Message(this, QStringLiteral("KDZ Copy"), question, kdl::Buttons::kYesNo,
                               kdl::Icon::kQuestion) != kdl::Answer::kYes)
    return false;
  if (!QDir().mkdir(folder)) {
    TargetError(kCannotCreate);
    return false;
  }
  return true;
}

void TCopyForm::TargetError(const QString& text) {
  context_.dialogs.Message(this, kTargetCaption, text, kdl::Buttons::kOk, kdl::Icon::kStop);
  eCopyDir_->setFocus();
}

int32_t TCopyForm::RunJob(const std::filesystem::path& target) {
  kdl::ImageWork& work = context_.work.image;
  ProgressScope progress(context_.prompter, pbCopy_, sbStatus_);
  switch (work.dialogMode) {
    case kCopySelection:
      if (current_ == nullptr) return -1;
      return kdl::CopySelection(image_, *current_, items_, target, flatten_, policy_);
    case kCopyWholeImage:
      return kdl::CopyWholeImage(image_, target, flatten_, policy_);
    case kCopyAllImages: {
      const int messages = context_.prompter.MessagesShown();
      const int32_t result = kdl::CopyAllImages(
          context_.work.archive, image_, target, flatten_, policy_, work.openCloseFlags,
          [this](std::string_view text) {
            lblFile_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
          });
      if (result < 0) SayIfNotAnArchive(context_, messages, context_.work.archive.path, this);
      return result;
    }
    default:
      return -1;
  }
}

void TCopyForm::btnCancelClick() {
  if (Busy()) {
    context_.work.image.cancelRequested = true;
    return;
  }
  QDialog::reject();
}

void TCopyForm::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TCopyForm::reject() {
  if (!Busy()) QDialog::reject();
}

bool TCopyForm::event(QEvent* event) {
  if (ShowHint(event, sbStatus_)) return true;
  return QDialog::event(event);
}

}  // namespace kdlw
