#include "kdlw/app/new_image_form.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "common/sjis.h"
#include "drive/media.h"
#include "edit/format_image.h"
#include "kdlw/app/main_form.h"
#include "kdlw/common/fonts.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

constexpr int kDefaultMediaType = 2;  // 1.44 MB, the most common disk
const QString kTitle = QStringLiteral("空のＫＤＬ作成");
const QString kImageFilter = QStringLiteral("KDLファイル(*.KDL);;imgファイル(*.img);;すべてのファイル(*)");

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QString::fromLatin1(name));
  return b;
}

// A line edit with a browse button beside it.
QWidget* WithBrowse(QWidget* parent, QLineEdit* edit, QPushButton* button) {
  auto* row = new QWidget(parent);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(edit, 1);
  layout->addWidget(button);
  return row;
}

}  // namespace

TNewImageForm::TNewImageForm(AppContext& context, const QString& folder, QWidget* parent)
    : QDialog(parent), context_(context), folder_(folder) {
  setObjectName(QStringLiteral("NewImageForm"));
  setWindowTitle(kTitle);
  setFont(JapaneseUiFont(12));

  eFname_ = new QLineEdit(this);
  eFname_->setObjectName(QStringLiteral("eFname"));
  eFname_->setStatusTip(QStringLiteral("作るＫＤＬファイルの名前（.KDL 以外は img ファイル）"));
  auto* btnRef = MakeButton(this, "btnRef", QStringLiteral("参照(&B)..."));
  cbMedia_ = new QComboBox(this);
  cbMedia_->setObjectName(QStringLiteral("cbMedia"));
  for (int type = 0; type < kdl::kMediaTypeCount; ++type)
    cbMedia_->addItem(QString::fromUtf8(kdl::MediaName(type).data(), kdl::kMediaNameLength).trimmed());
  cbMedia_->setCurrentIndex(kDefaultMediaType);
  cbMedia_->setStatusTip(QStringLiteral("フォーマットするディスクのタイプ"));
  eVolume_ = new QLineEdit(this);
  eVolume_->setObjectName(QStringLiteral("eVolume"));
  eVolume_->setValidator(new SjisLengthValidator(11, eVolume_));
  eVolume_->setStatusTip(QStringLiteral("ボリュームラベル（半角11文字まで、空ならなし）"));
  eLabel_ = new QLineEdit(this);
  eLabel_->setObjectName(QStringLiteral("eLabel1"));
  eLabel_->setValidator(new SjisLengthValidator(kdl::kLabelLineLength, eLabel_));
  eLabel_->setStatusTip(QStringLiteral("ＫＤＬファイルのラベル１"));
  eFrom_ = new QLineEdit(this);
  eFrom_->setObjectName(QStringLiteral("eFrom"));
  eFrom_->setStatusTip(
      QStringLiteral("このフォルダの中のファイルとフォルダをディスクに入れます（空なら空のディスク）"));
  auto* btnFrom = MakeButton(this, "btnFrom", QStringLiteral("参照(&F)..."));
  cbCompress_ = new QCheckBox(QStringLiteral("データ圧縮"), this);
  cbCompress_->setObjectName(QStringLiteral("cbPack"));
  cbCompress_->setChecked(true);
  cbUnused_ = new QCheckBox(QStringLiteral("未使用クラスタのファイル化"), this);
  cbUnused_->setObjectName(QStringLiteral("cbClust"));
  pbNew_ = new QProgressBar(this);
  pbNew_->setObjectName(QStringLiteral("pbNew"));
  pbNew_->setValue(0);
  btnGo_ = MakeButton(this, "btnGo", QStringLiteral("実行(&G)"));
  btnGo_->setDefault(true);
  auto* btnCancel = MakeButton(this, "btnCancel", QStringLiteral("キャンセル(&C)"));
  sbStatus_ = MakeSimpleStatusBar(this, "sbStatus");

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ファイル名："), WithBrowse(this, eFname_, btnRef));
  form->addRow(QStringLiteral("タイプ："), cbMedia_);
  form->addRow(QStringLiteral("ボリュームラベル："), eVolume_);
  form->addRow(QStringLiteral("ラベル１："), eLabel_);
  form->addRow(QStringLiteral("フォルダから："), WithBrowse(this, eFrom_, btnFrom));
  auto* options = new QHBoxLayout;
  options->addWidget(cbCompress_);
  options->addWidget(cbUnused_);
  options->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnGo_);
  buttons->addWidget(btnCancel);
  auto* column = new QVBoxLayout(this);
  column->addLayout(form);
  column->addLayout(options);
  column->addWidget(pbNew_);
  column->addLayout(buttons);
  column->addWidget(sbStatus_);
  resize(480, sizeHint().height());

  connect(btnRef, &QPushButton::clicked, this, [this] {
    const QString file = context_.dialogs.SaveFileName(this, kTitle, folder_, kImageFilter);
    if (!file.isEmpty()) eFname_->setText(file);
  });
  connect(btnFrom, &QPushButton::clicked, this, [this] {
    const QString chosen =
        context_.dialogs.ExistingFolder(this, QStringLiteral("ディスクに入れるフォルダ"), folder_);
    if (!chosen.isEmpty()) eFrom_->setText(chosen);
  });
  connect(btnGo_, &QPushButton::clicked, this, &TNewImageForm::btnGoClick);
  connect(btnCancel, &QPushButton::clicked, this, &TNewImageForm::btnCancelClick);
}

void TNewImageForm::btnGoClick() {
  if (busy_) return;
  QString target = eFname_->text().trimmed();
  if (target.isEmpty()) {
    context_.dialogs.Message(this, kTitle, QStringLiteral("ファイル名を入れてください"), kdl::Buttons::kOk,
                             kdl::Icon::kStop);
    return;
  }
  // A bare name is an image in the main window's folder; a name without an extension gets ".KDL".
  if (QFileInfo(target).isRelative()) target = QDir(folder_).filePath(target);
  if (QFileInfo(target).suffix().isEmpty()) target += QStringLiteral(".KDL");
  kdl::FormatOptions o;
  o.mediaType = cbMedia_->currentIndex();
  o.volumeLabel = ToUtf8(eVolume_->text());
  o.labels[0] = kdl::Utf8ToSjis(ToUtf8(eLabel_->text())).value_or(std::string());
  o.compress = cbCompress_->isChecked();
  o.omitUnused = !cbUnused_->isChecked();
  if (!eFrom_->text().trimmed().isEmpty()) o.from = ToUtf8(eFrom_->text().trimmed());

  busy_ = true;
  btnGo_->setEnabled(false);
  kdl::ImageWork& work = context_.work.image;
  work.cancelRequested = false;
  int32_t length = -1;
  {
    ProgressScope scope(context_.prompter, pbNew_, sbStatus_);
    kdl::ImageState state(work);
    length = kdl::FormatImage(state, ToUtf8(target), o);
  }
  pbNew_->setValue(0);
  sbStatus_->clearMessage();
  btnGo_->setEnabled(true);
  busy_ = false;
  if (length < 0) return;
  written_ = target;
  work.listChanged = true;
  accept();
}

void TNewImageForm::btnCancelClick() {
  if (busy_) {
    context_.prompter.RequestCancel();
  } else {
    QDialog::reject();
  }
}

void TNewImageForm::reject() { btnCancelClick(); }

void TNewImageForm::closeEvent(QCloseEvent* event) {
  if (busy_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

bool TNewImageForm::event(QEvent* event) {
  if (ShowHint(event, sbStatus_)) return true;
  return QDialog::event(event);
}

void TMainForm::NewBlankImage() {
  TNewImageForm form(context_, TreeFolder(), this);
  form.exec();
  RefreshIfChanged();
}

}  // namespace kdlw
