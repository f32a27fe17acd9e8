#include "kdlw/archive/kzi_form.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <filesystem>
#include <string_view>

#include "archive/archive_add.h"
#include "archive/archive_runs.h"
#include "archive/messages.h"
#include "common/sjis.h"
#include "kdlw/archive/not_archive.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/placement.h"
#include "kdlw/image/form_support.h"
#include "kdlw/image/kdi_form.h"

namespace kdlw {
namespace {

const QString kCreateCaption = QStringLiteral("カドローン（ＫＤＺ）作成・更新");
const QString kRestoreCaption = QStringLiteral("カドローン（ＫＤＺ）ＦＤ再生");
const QString kLabelsCaption = QStringLiteral("カドローン（ＫＤＺ）ラベル表示");
const QString kRunCaption = QStringLiteral("実行(&G)");
const QString kCancelCaption = QStringLiteral("キャンセル(&C)");
const QString kFileFilter = QStringLiteral("カドローン(*.KDZ) (*.KDZ *.kdz);;全てのファイル(*.*) (*)");
// The dialog's client area by design; the fonts may ask for more, never for less.
constexpr QSize kDesignSize(474, 199);
constexpr int kEditMargins = 10;
constexpr int kSpacing = 6;

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  // Enter is the form's own key: it moves through the edits and presses only the focused button.
  button->setAutoDefault(false);
  return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setFont(JapaneseFixedFont(16));
  // Room for a whole label line: 40 half-width columns, and the edit's own margins.
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('M')) *
                            static_cast<int>(kdl::kArchiveLabelLength) +
                        kEditMargins);
  return edit;
}

// Hands every round of an addition to the image dialog.
class DialogAdder : public kdl::ImageAdder {
 public:
  explicit DialogAdder(std::function<int32_t()> round) : round_(std::move(round)) {}
  int64_t AddImage(kdl::ArchiveState&, kdl::ImageState&) override { return round_(); }

 private:
  std::function<int32_t()> round_;
};

}  // namespace

TKZIForm::TKZIForm(AppContext& context, kdl::ImageState& image, TKDIForm& imageDialog, QWidget* parent)
    : QDialog(parent), context_(context), image_(image), imageDialog_(imageDialog) {
  setObjectName(QStringLiteral("KZIForm"));
  setWindowTitle(kCreateCaption);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(JapaneseUiFont(12));
  BuildControls();
  keys_ = new KeyPreview(this, [this](QKeyEvent* key, QWidget* target) { return HandleKey(key, target); });
}

TKZIForm::~TKZIForm() = default;

void TKZIForm::BuildControls() {
  label1_ = new QLabel(QStringLiteral("ファイル名："), this);
  label1_->setObjectName(QStringLiteral("Label1"));
  label2_ = new QLabel(QStringLiteral("ラベル　　　　："), this);
  label2_->setObjectName(QStringLiteral("Label2"));
  lblStatus_ = new QLabel(this);
  lblStatus_->setObjectName(QStringLiteral("lblStatus"));
  lblStatus_->setMinimumHeight(25);
  eFName_ = MakeEdit(this, "eFName");
  btnRef_ = MakeButton(this, "btnRef", QStringLiteral("参照(&R)"));
  for (int i = 0; i < kdl::kArchiveLabelCount; ++i) {
    QLineEdit* edit = MakeEdit(this, i == 0 ? "eLabel1" : "eLabel2");
    edit->setValidator(new SjisLengthValidator(kdl::kArchiveLabelLength, edit));
    eLabel_[static_cast<size_t>(i)] = edit;
  }
  btnGo_ = MakeButton(this, "btnGo", kRunCaption);
  btnCancel_ = MakeButton(this, "btnCancel", kCancelCaption);
  sbStatus_ = MakeSimpleStatusBar(this, "sbStatus");

  auto* grid = new QGridLayout;
  grid->addWidget(label1_, 0, 0);
  grid->addWidget(eFName_, 0, 1);
  grid->addWidget(btnRef_, 0, 2);
  grid->addWidget(label2_, 1, 0, Qt::AlignTop);
  grid->addWidget(eLabel_[0], 1, 1);
  grid->addWidget(eLabel_[1], 2, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(lblStatus_, 1);
  buttons->addWidget(btnGo_);
  buttons->addWidget(btnCancel_);
  grid->addLayout(buttons, 3, 0, 1, 3);
  grid->setContentsMargins(8, 8, 8, 4);
  // Set here: a layout inside another takes the outer one's spacing, which is none.
  grid->setSpacing(kSpacing);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(4, 1);
  // The status bar runs along the whole foot of the dialog, as a status bar does.
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addLayout(grid, 1);
  column->addWidget(sbStatus_);
  setFixedSize(column->sizeHint().expandedTo(kDesignSize));

  connect(btnRef_, &QPushButton::clicked, this, &TKZIForm::btnRefClick);
  connect(btnGo_, &QPushButton::clicked, this, &TKZIForm::btnGoClick);
  connect(btnCancel_, &QPushButton::clicked, this, &TKZIForm::btnCancelClick);
}

QString TKZIForm::MainFolder() const { return context_.mainFolder ? context_.mainFolder() : QString(); }

void TKZIForm::Run(QWidget* owner) {
  if (!Prepare(owner)) return;
  PlaceOver(this, owner);
  exec();
}

bool TKZIForm::Prepare(QWidget* owner) {
  kdl::ImageWork& work = context_.work.image;
  kdl::ArchiveState& archive = context_.work.archive;
  work.busy = false;
  work.cancelRequested = false;
  shownLabels_ = {};
  for (QLineEdit* edit : eLabel_) edit->clear();
  SetLabelEditsReadOnly(true);
  lblStatus_->clear();
  sbStatus_->clearMessage();
  btnGo_->setEnabled(true);
  btnCancel_->setEnabled(true);
  btnRef_->setEnabled(false);
  btnGo_->setText(kRunCaption);
  btnCancel_->setText(kCancelCaption);
  btnGo_->setFocus();
  eFName_->setReadOnly(true);

  if (!archive.path.empty()) {
    eFName_->setText(FromUtf8(archive.path));
    std::string status;
    const int messages = context_.prompter.MessagesShown();
    if (kdl::ShowArchiveSummary(archive, archive.path, work.openCloseFlags, status) < 0) {
      // Nothing can be done with an archive that cannot be read.
      SayIfNotAnArchive(context_, messages, archive.path, owner);
      work.dialogResult = -1;
      return false;
    }
    shownLabels_ = archive.labelTexts;
    for (size_t i = 0; i < eLabel_.size(); ++i) eLabel_[i]->setText(FromSjis(shownLabels_[i]));
    lblStatus_->setText(FromUtf8(status));
  } else {
    eFName_->clear();
    eFName_->setReadOnly(false);
    SetLabelEditsReadOnly(false);
    btnRef_->setEnabled(true);
    eFName_->setFocus();
  }

  switch (work.dialogMode) {
    case kdl::kModeRestore:
    case kdl::kModeRestoreWithSkip:
      setWindowTitle(kRestoreCaption);
      break;
    case kdl::kModeLabels:
      setWindowTitle(kLabelsCaption);
      btnRef_->setEnabled(false);
      btnGo_->setText(QStringLiteral("ＯＫ"));
      btnCancel_->setEnabled(false);
      SetLabelEditsReadOnly(work.readOnly);
      work.dialogResult = 0;
      break;
    default:
      setWindowTitle(kCreateCaption);
      break;
  }
  return true;
}

void TKZIForm::SetLabelEditsReadOnly(bool readOnly) {
  for (QLineEdit* edit : eLabel_) edit->setReadOnly(readOnly);
}

std::array<std::string, kdl::kArchiveLabelCount> TKZIForm::LabelsFromEdits() const {
  std::array<std::string, kdl::kArchiveLabelCount> texts;
  for (size_t i = 0; i < eLabel_.size(); ++i) {
    const QString text = eLabel_[i]->text();
    // A line left as shown keeps its bytes, even those that do not decode as Shift-JIS.
    texts[i] = text == FromSjis(shownLabels_[i]) ? shownLabels_[i]
                                                 : kdl::Utf8ToSjis(ToUtf8(text)).value_or(std::string());
    while (!texts[i].empty() && texts[i].back() == ' ') texts[i].pop_back();
  }
  return texts;
}

void TKZIForm::btnRefClick() {
  if (saveFolder_.isEmpty()) saveFolder_ = MainFolder();
  const QString file = context_.dialogs.SaveFileName(this, QStringLiteral("カドローン（ＫＤＺ）作成"),
                                                     saveFolder_, kFileFilter);
  if (file.isEmpty()) return;
  eFName_->setText(file);
  saveFolder_ = QFileInfo(file).absolutePath();
  SetLabelEditsReadOnly(false);
}

void TKZIForm::btnGoClick() {
  if (context_.work.image.dialogMode == kdl::kModeLabels) {
    RunLabels();
  } else {
    RunJob();
  }
}

void TKZIForm::RunLabels() {
  kdl::ImageWork& work = context_.work.image;
  kdl::ArchiveState& archive = context_.work.archive;
  bool changed = false;
  for (size_t i = 0; i < eLabel_.size(); ++i)
    changed = changed || eLabel_[i]->text() != FromSjis(shownLabels_[i]);
  if (changed && context_.dialogs.Message(this, QStringLiteral("ＫＤＺ　Ｆｏｒｍ"),
                                          QStringLiteral("ラベルが変更されています\n更新しますか？"),
                                          kdl::Buttons::kYesNo, kdl::Icon::kQuestion) == kdl::Answer::kYes) {
    archive.labelTexts = LabelsFromEdits();
    // A label write that failed has been reported; it is not reported back as done.
    work.dialogResult =
        kdl::WriteArchiveLabels(archive, archive.path, work.openCloseFlags, archive.labelTexts) < 0 ? -1 : 1;
  }
  done(QDialog::Accepted);
}

QString TKZIForm::CompletedArchiveName() {
  QString name = eFName_->text().trimmed();
  const std::filesystem::path typed(ToUtf8(name));
  if (typed.filename().empty()) {
    ShowError(QStringLiteral("ファイル名が指定されていません"));
    return {};
  }
  if (QFileInfo(name).suffix().toUpper() != QLatin1String("KDZ")) name += QStringLiteral(".KDZ");
  const QString folder = MainFolder();
  if (!typed.has_parent_path() && !folder.isEmpty())
    name = folder + (folder.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + name;
  eFName_->setText(name);
  return name;
}

void TKZIForm::RunJob() {
  kdl::ImageWork& work = context_.work.image;
  kdl::ArchiveState& archive = context_.work.archive;
  const QString name = CompletedArchiveName();
  if (name.isEmpty()) {
    eFName_->setFocus();
    return;
  }
  running_ = true;
  work.busy = true;
  btnGo_->setEnabled(false);
  btnRef_->setEnabled(false);
  btnCancel_->setText(QStringLiteral("中断"));
  btnCancel_->setEnabled(true);
  archive.path = ToUtf8(name);
  if (work.dialogMode == kdl::kModeCreate) {
    const std::array<std::string, kdl::kArchiveLabelCount> labels = LabelsFromEdits();
    DialogAdder adder([this] { return RunImageDialog(); });
    kdl::AddFloppies(archive, image_, archive.path, work.openCloseFlags, labels, adder);
  } else {
    kdl::RestoreAllImages(archive, image_, work.openCloseFlags,
                          [this](kdl::ArchiveState&, kdl::ImageState&) { return RunImageDialog(); });
  }
  work.busy = false;
  running_ = false;
  done(QDialog::Accepted);
}

int32_t TKZIForm::RunImageDialog() {
  kdl::ImageWork& work = context_.work.image;
  const int16_t count = context_.work.archive.header.count;
  lblStatus_->setText(FromUtf8(kdl::archive_text::Format(kdl::archive_text::kImageCount, count)) +
                      QStringLiteral("  ") + FromUtf8(work.currentImagePath));
  // The run's progress: the image that this round works on.
  sbStatus_->showMessage(
      FromUtf8(kdl::archive_text::Format(kdl::archive_text::kProcessing, work.currentImagePath.c_str())));
  imageDialog_.Run(this);
  // The image dialog ends its own busy state; this dialog's run goes on.
  work.busy = true;
  work.cancelRequested = false;
  return work.dialogResult;
}

void TKZIForm::ShowError(const QString& text) {
  context_.dialogs.Message(this, FromUtf8(std::string(kdl::kCaptionArchive)), text, kdl::Buttons::kOk,
                           kdl::Icon::kStop);
}

void TKZIForm::btnCancelClick() {
  kdl::ImageWork& work = context_.work.image;
  if (Busy()) {
    work.cancelRequested = true;
    return;
  }
  done(QDialog::Rejected);
}

bool TKZIForm::HandleKey(QKeyEvent* key, QWidget* target) {
  switch (key->key()) {
    case Qt::Key_Escape:
      btnCancelClick();
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      if (auto* button = qobject_cast<QPushButton*>(target)) {
        if (button->isEnabled()) button->click();
        return true;
      }
      // Enter in an edit moves on: file name, the two labels, then the run button.
      QWidget* chain[] = {eFName_, eLabel_[0], eLabel_[1], btnGo_};
      for (size_t i = 0; i + 1 < std::size(chain); ++i) {
        if (target == chain[i]) chain[i + 1]->setFocus();
      }
      return true;
    }
    default:
      return false;
  }
}

void TKZIForm::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TKZIForm::reject() {
  if (!Busy()) QDialog::reject();
}

bool TKZIForm::event(QEvent* event) {
  if (ShowHint(event, sbStatus_)) return true;
  return QDialog::event(event);
}

}  // namespace kdlw
