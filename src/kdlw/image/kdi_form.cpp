#include "kdlw/image/kdi_form.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <initializer_list>

#include "archive/archive_add.h"
#include "common/sjis.h"
#include "drive/host_drive.h"
#include "image/create.h"
#include "image/export.h"
#include "image/restore.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/placement.h"
#include "kdlw/image/drive_choices.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

constexpr int kSpacing = 6;

const QString kFileFilter = QStringLiteral(
    "カドローン(*.kdl) (*.KDL *.kdl);;img ファイル(*.img) (*.img *.IMG);;全てのファイル(*.*) (*)");
// An existing file to add: an image, a raw image, or another tool's disk image (read as a drive).
const QString kSourceFilter = QStringLiteral(
    "カドローン(*.kdl) (*.KDL *.kdl);;img ファイル(*.img) (*.img *.IMG);;"
    "他のツールのディスクイメージ (*.d88 *.D88 *.d98 *.D98 *.88d *.88D *.hdm *.HDM *.fdi *.FDI *.imd *.IMD "
    "*.gz *.GZ);;全てのファイル(*.*) (*)");
const QString kRunCaption = QStringLiteral("実行(&G)");
const QString kOkCaption = QStringLiteral("ＯＫ(&O)");
const QString kCancelCaption = QStringLiteral("キャンセル(&C)");
const QString kSkipCaption = QStringLiteral("スキップ(&S)");
const QString kAbortCaption = QStringLiteral("中断");
const QString kInputDrive = QStringLiteral("入力ドライブ　：");
const QString kOutputDrive = QStringLiteral("出力ドライブ　：");
constexpr size_t kLabelBytes = kdl::kLabelLineLength;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  // Enter is the form's own key: it moves through the edits and presses only the focused button.
  button->setAutoDefault(false);
  return button;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text) {
  auto* check = new QCheckBox(text, parent);
  check->setObjectName(QString::fromLatin1(name));
  return check;
}

}  // namespace

TKDIForm::TKDIForm(AppContext& context, kdl::ImageState& image, kdl::DriveSettings drives, QWidget* parent)
    : QDialog(parent), context_(context), image_(image), drives_(std::move(drives)) {
  setObjectName(QStringLiteral("KDIForm"));
  setWindowTitle(QStringLiteral("カドローン（ＫＤＬ）作成"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(JapaneseUiFont(12));
  BuildControls();
  SetDriveChoices(DriveChoices(drives_));
  keys_ = new KeyPreview(this, [this](QKeyEvent* key, QWidget* target) { return HandleKey(key, target); });
}

TKDIForm::~TKDIForm() = default;

void TKDIForm::BuildControls() {
  label1_ = MakeLabel(this, "Label1", QStringLiteral("ファイル名　　：　"));
  lblDrive_ = MakeLabel(this, "lblDrive", kInputDrive);
  eFname_ = new QLineEdit(this);
  eFname_->setObjectName(QStringLiteral("eFname"));
  cbDrive_ = new QComboBox(this);
  cbDrive_->setObjectName(QStringLiteral("cbDrive"));
  // A path typed here names a block device or a raw disk image file that acts as the drive.
  cbDrive_->setEditable(true);
  cbDrive_->setInsertPolicy(QComboBox::NoInsert);
  label3_ = MakeLabel(this, "Label3", QStringLiteral("ラベル　：　"));
  for (int i = 0; i < kdl::kLabelLineCount; ++i) {
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("eLabel%1").arg(i + 1));
    edit->setValidator(new SjisLengthValidator(kLabelBytes, edit));
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 34);
    eLabel_[static_cast<size_t>(i)] = edit;
  }
  cbPack_ = MakeCheck(this, "cbPack", QStringLiteral("データ圧縮"));
  cbClust_ = MakeCheck(this, "cbClust", QStringLiteral("未使用クラスタのファイル化"));
  cbVerify_ = MakeCheck(this, "cbVerify", QStringLiteral("ベリファイ"));
  lblStatus_ = MakeLabel(this, "lblStatus", QStringLiteral("実行状況"));
  sbStatus_ = MakeSimpleStatusBar(this, "sbStatus");
  pbKDL_ = new QProgressBar(this);
  pbKDL_->setObjectName(QStringLiteral("pbKDL"));
  pbKDL_->setRange(0, 100);
  pbKDL_->setValue(0);
  pbKDL_->setTextVisible(false);
  btnRef_ = MakeButton(this, "btnRef", QStringLiteral("参照(&R)"));
  btnGo_ = MakeButton(this, "btnGo", kRunCaption);
  btnCancel_ = MakeButton(this, "btnCancel", kCancelCaption);

  auto* grid = new QGridLayout;
  grid->addWidget(label1_, 0, 0);
  grid->addWidget(eFname_, 0, 1);
  grid->addWidget(btnRef_, 0, 2);
  grid->addWidget(lblDrive_, 1, 0);
  grid->addWidget(cbDrive_, 1, 1);
  grid->addWidget(label3_, 2, 0, Qt::AlignTop);
  for (int i = 0; i < kdl::kLabelLineCount; ++i) grid->addWidget(eLabel_[static_cast<size_t>(i)], 2 + i, 1);
  auto* checks = new QHBoxLayout;
  checks->addWidget(cbPack_);
  checks->addWidget(cbClust_);
  checks->addWidget(cbVerify_);
  checks->addStretch(1);
  grid->addLayout(checks, 6, 1, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnGo_);
  buttons->addWidget(btnCancel_);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(10, 10, 10, 6);
  // Set here: a layout inside another takes the outer one's spacing, which is none.
  body->setSpacing(kSpacing);
  body->addLayout(grid);
  body->addWidget(lblStatus_);
  body->addWidget(pbKDL_);
  body->addLayout(buttons);
  // The status bar runs along the whole foot of the dialog.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(body);
  column->addWidget(sbStatus_);
  column->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnRef_, &QPushButton::clicked, this, &TKDIForm::btnRefClick);
  connect(btnGo_, &QPushButton::clicked, this, &TKDIForm::btnGoClick);
  connect(btnCancel_, &QPushButton::clicked, this, &TKDIForm::btnCancelClick);
}

void TKDIForm::SetDriveChoices(const QStringList& choices) {
  cbDrive_->clear();
  cbDrive_->addItems(choices);
  cbDrive_->setCurrentIndex(choices.isEmpty() ? -1 : 0);
}

QString TKDIForm::MainFolder() const { return context_.mainFolder ? context_.mainFolder() : QString(); }

void TKDIForm::Run(QWidget* owner) {
  if (!Prepare()) return;
  PlaceOver(this, owner);
  exec();
}

bool TKDIForm::Prepare() {
  kdl::ImageWork& work = context_.work.image;
  sourceMode_ = kSourceNormal;
  sourceFile_.clear();
  sourceIsDisk_ = false;
  work.busy = false;
  work.cancelRequested = false;
  // Leaving the dialog by the window's close button counts as Cancel, whatever an earlier run left here.
  work.dialogResult = 0;
  lblStatus_->clear();
  sbStatus_->clearMessage();
  pbKDL_->setRange(0, 100);
  pbKDL_->setValue(0);
  btnRef_->setEnabled(false);
  eFname_->setReadOnly(true);
  btnGo_->setText(kRunCaption);
  btnCancel_->setText(kCancelCaption);
  btnGo_->setEnabled(true);
  btnCancel_->setEnabled(true);
  SetOptionsEnabled(true);
  cbPack_->setChecked(work.compress);
  cbClust_->setChecked(!work.omitUnused);
  cbVerify_->setChecked(work.verify);
  const QString imagePath = FromUtf8(work.currentImagePath);
  // The drive box goes back to the drive it named before an image file was offered in it.
  if (!driveBeforeSource_.isNull()) {
    cbDrive_->setCurrentText(driveBeforeSource_);
    driveBeforeSource_ = QString();
  }

  switch (work.dialogMode) {
    case kdl::kModeCreate:
      setWindowTitle(QStringLiteral("カドローン作成"));
      lblDrive_->setText(kInputDrive);
      SetLabelEdits({}, false);
      eFname_->clear();
      btnRef_->setEnabled(true);
      if (imagePath.isEmpty()) {
        saveFolder_ = MainFolder();
        eFname_->setReadOnly(false);
        eFname_->setFocus();
        // Another tool's disk image chosen in the main window is the drive to read, this time only.
        if (!context_.work.createSource.isEmpty()) {
          driveBeforeSource_ = cbDrive_->currentText();
          cbDrive_->setCurrentText(context_.work.createSource);
          SetLabelEdits(kdl::ContainerFileLabels(ToUtf8(context_.work.createSource)), false);
        }
      } else {
        sourceMode_ = kSourceGiven;
        eFname_->setText(imagePath);
        eLabel_[0]->setFocus();
      }
      break;
    case kdl::kModeRestore:
    case kdl::kModeRestoreWithSkip:
      setWindowTitle(QStringLiteral("フロッピーディスク再生"));
      lblDrive_->setText(kOutputDrive);
      eFname_->setText(imagePath);
      cbClust_->setEnabled(false);
      cbPack_->setEnabled(false);
      if (!ReadImageLabels(false)) return false;
      if (work.dialogMode == kdl::kModeRestoreWithSkip) btnCancel_->setText(kSkipCaption);
      btnGo_->setFocus();
      break;
    case kdl::kModeLabels:
      setWindowTitle(QStringLiteral("カドローンのラベル表示"));
      eFname_->setText(imagePath);
      if (!ReadImageLabels(true)) return false;
      btnGo_->setFocus();
      btnGo_->setText(kOkCaption);
      btnCancel_->setEnabled(false);
      SetOptionsEnabled(false);
      break;
    case kdl::kModeRawOutput:
      setWindowTitle(imagePath + QStringLiteral(" -> img FILE"));
      eFname_->setText(FromUtf8(work.rawImagePath));
      if (!ReadImageLabels(true)) return false;
      btnGo_->setFocus();
      btnGo_->setText(kOkCaption);
      SetOptionsEnabled(false);
      break;
    default:
      break;
  }
  return true;
}

void TKDIForm::SetOptionsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{cbVerify_, cbClust_, cbPack_, cbDrive_, lblDrive_})
    w->setEnabled(enabled);
}

bool TKDIForm::ReadImageLabels(bool readOnlyWhenImageIs) {
  kdl::ImageWork& work = context_.work.image;
  std::string typeLabel;
  kdl::LabelTexts texts;
  if (kdl::ReadLabels(image_, work.currentImagePath, work.openCloseFlags, typeLabel, texts) < 0) {
    // The image object has told the user why; there is nothing to show.
    work.dialogResult = -1;
    return false;
  }
  SetLabelEdits(texts, readOnlyWhenImageIs ? work.readOnly : true);
  lblStatus_->setText(FromUtf8(typeLabel));
  return true;
}

void TKDIForm::SetLabelEdits(const kdl::LabelTexts& texts, bool readOnly) {
  shownLabels_ = texts;
  for (size_t i = 0; i < eLabel_.size(); ++i) {
    eLabel_[i]->setText(FromSjis(texts[i]));
    eLabel_[i]->setReadOnly(readOnly);
  }
}

kdl::LabelTexts TKDIForm::LabelsFromEdits() const {
  kdl::LabelTexts texts;
  for (size_t i = 0; i < eLabel_.size(); ++i) {
    const QString text = eLabel_[i]->text();
    // A line left as shown keeps its bytes, even those that do not decode as Shift-JIS.
    if (text == FromSjis(shownLabels_[i])) {
      texts[i] = shownLabels_[i];
    } else {
      texts[i] = kdl::Utf8ToSjis(ToUtf8(text)).value_or(std::string());
    }
  }
  return texts;
}

void TKDIForm::btnRefClick() {
  kdl::ImageWork& work = context_.work.image;
  if (sourceMode_ == kSourceNormal) {
    const QString file =
        context_.dialogs.SaveFileName(this, QStringLiteral("カドローン作成"), saveFolder_, kFileFilter);
    if (file.isEmpty()) return;
    eFname_->setText(file);
    saveFolder_ = QFileInfo(file).absolutePath();
    return;
  }
  // Inside an archive: an existing image or raw sector image file becomes the new image.
  work.rawSource = false;
  if (openFolder_.isEmpty()) openFolder_ = MainFolder();
  const QString file =
      context_.dialogs.OpenFileName(this, QStringLiteral("カドローン入力"), openFolder_, kSourceFilter);
  if (file.isEmpty()) return;
  openFolder_ = QFileInfo(file).absolutePath();
  const bool raw = QFileInfo(file).suffix().toUpper() != QLatin1String("KDL");
  QFile source(file);
  if (!source.open(QIODevice::ReadOnly)) return;
  // Another tool's disk image is read like a disk in a drive, with the options of a disk.
  if (kdl::IsForeignContainerFile(ToUtf8(file))) {
    // Its name or comment is offered as the label lines.
    SetLabelEdits(kdl::ContainerFileLabels(ToUtf8(file)), false);
    sourceFile_ = file;
    sourceMode_ = kSourceFile;
    sourceIsDisk_ = true;
    cbDrive_->setEnabled(false);
    lblDrive_->setEnabled(false);
    eFname_->setText(file);
    return;
  }
  if (raw) {
    SetLabelEdits({}, false);
  } else {
    const QByteArray bytes = source.read(static_cast<qint64>(kdl::kKdlHeaderSize));
    if (bytes.size() != static_cast<qsizetype>(kdl::kKdlHeaderSize)) return;
    kdl::LabelTexts texts;
    const std::optional<kdl::KdlHeader> header = kdl::ParseKdlHeader(kdl::ByteView(
        reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())));
    if (header) {
      for (int i = 0; i < kdl::kLabelLineCount; ++i) texts[static_cast<size_t>(i)] = header->LabelText(i);
    }
    SetLabelEdits(texts, true);
  }
  work.rawSource = raw;
  sourceFile_ = file;
  sourceMode_ = kSourceFile;
  SetOptionsEnabled(false);
  eFname_->setText(file);
}

void TKDIForm::btnGoClick() {
  switch (context_.work.image.dialogMode) {
    case kdl::kModeLabels:
      RunLabels();
      break;
    case kdl::kModeRestore:
    case kdl::kModeRestoreWithSkip:
      RunRestore();
      break;
    case kdl::kModeRawOutput:
      RunRawOutput();
      break;
    case kdl::kModeCreate:
      RunCreate();
      break;
    default:
      done(0);
      break;
  }
}

void TKDIForm::RunLabels() {
  kdl::ImageWork& work = context_.work.image;
  bool changed = false;
  for (size_t i = 0; i < eLabel_.size() && !changed; ++i)
    changed = eLabel_[i]->text() != FromSjis(shownLabels_[i]);
  if (changed && context_.dialogs.Message(this, QStringLiteral("ＫＤＩ　Ｆｏｒｍ"),
                                          QStringLiteral("ラベルが変更されています\n更新しますか？"),
                                          kdl::Buttons::kYesNo, kdl::Icon::kQuestion) == kdl::Answer::kYes) {
    kdl::LabelTexts texts = LabelsFromEdits();
    for (std::string& text : texts) {
      while (!text.empty() && text.back() == ' ') text.pop_back();
    }
    // A label write that failed has been reported; it is not reported back as done.
    work.dialogResult =
        kdl::WriteLabels(image_, work.currentImagePath, work.openCloseFlags, texts) < 0 ? -1 : 1;
  }
  done(QDialog::Accepted);
}

void TKDIForm::RunRestore() {
  kdl::ImageWork& work = context_.work.image;
  const std::optional<kdl::DriveOperand> drive = ChosenDrive();
  if (!drive) return;
  work.verify = cbVerify_->isChecked();
  SetRunning(true);
  kdl::HostDrives devices(drive->devices);
  kdl::DriveLayer layer(devices, &context_.prompter, drives_.readFailure);
  int32_t result = 0;
  {
    ProgressScope progress(context_.prompter, pbKDL_, sbStatus_);
    result = kdl::RestoreToDrive(image_, layer, drive->driveNumber);
  }
  work.dialogResult = result;
  SetRunning(false);
  done(QDialog::Accepted);
}

void TKDIForm::RunRawOutput() {
  kdl::ImageWork& work = context_.work.image;
  SetRunning(true);
  int64_t length = 0;
  {
    ProgressScope progress(context_.prompter, pbKDL_, sbStatus_);
    // The output's extension chooses another tool's format; any other name gets the raw disk.
    const kdl::ContainerFormat format =
        kdl::ContainerFormatFromExtension(work.rawImagePath).value_or(kdl::ContainerFormat::kRaw);
    length = kdl::WriteImageAs(image_, work.currentImagePath, work.rawImagePath, format);
  }
  work.dialogResult = length < 0 ? -1 : 0;
  // Output in another tool's format is listed in the main window.
  if (length >= 0) work.listChanged = true;
  SetRunning(false);
  done(QDialog::Accepted);
}

void TKDIForm::RunCreate() {
  kdl::ImageWork& work = context_.work.image;
  const kdl::LabelTexts labels = LabelsFromEdits();
  if (sourceMode_ == kSourceFile && !sourceIsDisk_) {
    SetRunning(true);
    const int64_t length = kdl::AddImageFile(context_.work.archive, ToUtf8(sourceFile_), labels);
    work.dialogResult = static_cast<int32_t>(std::clamp<int64_t>(length, -1, INT32_MAX));
    SetRunning(false);
    done(work.dialogResult);
    return;
  }
  std::optional<kdl::DriveOperand> drive;
  if (sourceIsDisk_) {
    drive = kdl::DriveOperand{{ToUtf8(sourceFile_)}, 1};
  } else {
    drive = ChosenDrive();
  }
  if (!drive) return;
  const std::optional<QString> target = CompletedTargetName();
  if (!target) return;
  work.compress = cbPack_->isChecked();
  work.omitUnused = !cbClust_->isChecked();
  work.verify = cbVerify_->isChecked();
  SetRunning(true);
  kdl::HostDrives devices(drive->devices);
  kdl::DriveLayer layer(devices, &context_.prompter, drives_.readFailure);
  std::string typeLabel;
  int32_t length = 0;
  {
    // The type line shows as soon as the disk's type is known, while its tracks are being read.
    ProgressScope progress(context_.prompter, pbKDL_, sbStatus_, lblStatus_);
    length = kdl::CreateImage(image_, layer, ToUtf8(*target), drive->driveNumber, labels, typeLabel);
  }
  work.dialogResult = length;
  SetRunning(false);
  if (work.baseOffset == 0) work.listChanged = true;
  done(length);
}

std::optional<kdl::DriveOperand> TKDIForm::ChosenDrive() {
  const QString operand = DriveOperandOf(cbDrive_->currentText());
  std::string error;
  std::optional<kdl::DriveOperand> drive;
  if (!operand.isEmpty()) drive = kdl::ResolveDriveOperand(ToUtf8(operand), drives_, error);
  if (!drive) {
    QString text = operand.isEmpty() ? QStringLiteral("ドライブが指定されていません")
                                     : QStringLiteral("ドライブ %1 が見つかりません").arg(operand);
    // A disk image of another tool's format that holds no disk of a media type says what it holds.
    if (!operand.isEmpty() && kdl::IsForeignContainerFile(ToUtf8(operand))) text = FromUtf8(error);
    context_.dialogs.Message(this, FromUtf8(std::string(kdl::kCaptionImage)), text, kdl::Buttons::kOk,
                             kdl::Icon::kStop);
    cbDrive_->setFocus();
  }
  return drive;
}

std::optional<QString> TKDIForm::CompletedTargetName() {
  QString name = eFname_->text();
  if (!context_.work.image.currentImagePath.empty()) return name;
  const std::filesystem::path path(ToUtf8(name));
  if (path.filename().empty()) {
    context_.dialogs.Message(this, FromUtf8(std::string(kdl::kCaptionImage)),
                             QStringLiteral("ファイル名が指定されていません"), kdl::Buttons::kOk,
                             kdl::Icon::kStop);
    eFname_->setFocus();
    return std::nullopt;
  }
  if (!path.has_extension()) {
    name += QStringLiteral(".KDL");
    const QString folder = MainFolder();
    if (!path.has_parent_path() && !folder.isEmpty())
      name = folder + (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + name;
    eFname_->setText(name);
  }
  return name;
}

void TKDIForm::SetRunning(bool running) {
  context_.work.image.busy = running;
  if (running) {
    btnGo_->setEnabled(false);
    btnRef_->setEnabled(false);
    btnCancel_->setText(kAbortCaption);
    btnCancel_->setEnabled(true);
    btnCancel_->setFocus();
  }
}

void TKDIForm::btnCancelClick() {
  kdl::ImageWork& work = context_.work.image;
  if (work.busy) {
    work.cancelRequested = true;
    return;
  }
  if ((work.openCloseFlags & kdl::kCloseAfter) != 0) image_.CloseImage();
  work.dialogResult = 0;
  done(QDialog::Rejected);
}

bool TKDIForm::HandleKey(QKeyEvent* key, QWidget* target) {
  kdl::ImageWork& work = context_.work.image;
  switch (key->key()) {
    case Qt::Key_Escape:
      if (work.busy) {
        work.cancelRequested = true;
      } else {
        work.dialogResult = 0;
        done(QDialog::Rejected);
      }
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      if (auto* button = qobject_cast<QPushButton*>(target)) {
        if (button->isEnabled()) button->click();
        return true;
      }
      // Enter in an edit moves on: file name, the four labels, then the run button.
      QWidget* chain[] = {eFname_, eLabel_[0], eLabel_[1], eLabel_[2], eLabel_[3], btnGo_};
      for (size_t i = 0; i + 1 < std::size(chain); ++i) {
        if (target == chain[i]) chain[i + 1]->setFocus();
      }
      return true;
    }
    default:
      return false;
  }
}

void TKDIForm::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TKDIForm::reject() {
  if (!Busy()) QDialog::reject();
}

bool TKDIForm::event(QEvent* event) {
  if (ShowHint(event, sbStatus_)) return true;
  return QDialog::event(event);
}

}  // namespace kdlw
