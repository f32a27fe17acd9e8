#include "kdlw/archive/kdz_form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "archive/archive.h"
#include "common/sjis.h"
#include "kdlw/archive/kzi_form.h"
#include "kdlw/archive/not_archive.h"
#include "kdlw/browse/copy_form.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/placement.h"
#include "kdlw/common/tool_button.h"
#include "kdlw/components/system_menu.h"
#include "kdlw/image/form_support.h"
#include "kdlw/image/kdi_form.h"

namespace kdlw {
namespace {

const QString kExtractCaption = QStringLiteral("カドローン抽出");
const QString kExtractFilter = QStringLiteral("カドローン (*.KDL *.kdl)");
constexpr int kListFontPixels = 13;

// The low four open/close bits that make an image operation open the image first and close it afterwards.
void SetImageFlags(kdl::ImageWork& work) {
  work.openCloseFlags = (work.openCloseFlags & ~0x0F) | kdl::kOpenFirst | kdl::kCloseAfter;
}

}  // namespace

TKDZForm::TKDZForm(AppContext& context, ArchiveWindowLinks links, QWidget* parent)
    : QWidget(parent, Qt::Window), context_(context), links_(links) {
  setObjectName(QStringLiteral("KDZForm"));
  setWindowTitle(QStringLiteral("KDZ File"));
  setFont(JapaneseUiFont(12));
  resize(600, 430);
  BuildControls();
  keys_ = new KeyPreview(this, [this](QKeyEvent* key, QWidget* target) { return HandleKey(key, target); });
}

TKDZForm::~TKDZForm() = default;

void TKDZForm::BuildControls() {
  panel1_ = new QWidget(this);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  sbSel_ = MakeToolButton(panel1_, "sbSel", QStringLiteral("選択(&S)"),
                          QStringLiteral("ＫＤＬファイルの中を見ます"));
  sbRestore_ = MakeToolButton(panel1_, "sbRestore", QStringLiteral("FD再生(&R)"),
                              QStringLiteral("ＫＤＬからフロッピーﾃﾞｨｽｸを作ります"));
  sbCopy_ = MakeToolButton(panel1_, "sbCopy", QStringLiteral("全Copy(&C)"),
                           QStringLiteral("ＫＤＬ・ＫＤＺの中から全てのファイルをコピーします"));
  sbLabel_ = MakeToolButton(panel1_, "sbLabel", QStringLiteral("ラベル(&L)"),
                            QStringLiteral("ＫＤＬ・ＫＤＺファイルのラベルを表示します"));
  sbKDL_ = MakeToolButton(panel1_, "sbKDL", QStringLiteral("KDL出力(&X)"),
                          QStringLiteral("KDLファイルを出力します"));
  sbClose_ = MakeToolButton(panel1_, "sbClose", QStringLiteral("閉じる(&E)"),
                            QStringLiteral("このフォームを終了します"));
  auto* row = new QHBoxLayout(panel1_);
  row->setContentsMargins(8, 4, 4, 4);
  row->setSpacing(0);
  for (QToolButton* b : {sbSel_, sbRestore_, sbCopy_, sbLabel_, sbKDL_, sbClose_}) row->addWidget(b);
  row->addStretch(1);

  listBox1_ = new QListWidget(this);
  listBox1_->setObjectName(QStringLiteral("ListBox1"));
  listBox1_->setFont(JapaneseFixedFont(kListFontPixels));
  listBox1_->setUniformItemSizes(true);
  listBox1_->setSelectionMode(QAbstractItemView::SingleSelection);
  sbKDZ_ = MakeSimpleStatusBar(this, "sbKDZ");

  menuBar1_ = new QMenuBar(this);
  menuBar1_->setObjectName(QStringLiteral("MenuBar1"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(menuBar1_);
  column->addWidget(panel1_);
  column->addWidget(listBox1_, 1);
  column->addWidget(sbKDZ_);

  systemMenu1_ = new TSystemMenu(this);
  systemMenu1_->AddItem(QStringLiteral("-"));
  systemMenu1_->AddItem(QStringLiteral("選択(&S)"), [this] { sbSelClick(); });
  systemMenu1_->AddItem(QStringLiteral("FD再生(&R)"), [this] { sbRestoreClick(); });
  systemMenu1_->AddItem(QStringLiteral("全Copy(&C)"), [this] { sbCopyClick(); });
  systemMenu1_->AddItem(QStringLiteral("ラベル(&L)"), [this] { sbLabelClick(); });
  systemMenu1_->AddItem(QStringLiteral("KDL出力(&X)"), [this] { sbKDLClick(); });
  systemMenu1_->AttachTo(panel1_);
  systemMenu1_->AttachTo(sbKDZ_);
  systemMenu1_->AddToMenuBar(menuBar1_, kWindowMenuTitle);

  connect(sbSel_, &QToolButton::clicked, this, &TKDZForm::sbSelClick);
  connect(sbRestore_, &QToolButton::clicked, this, &TKDZForm::sbRestoreClick);
  connect(sbCopy_, &QToolButton::clicked, this, &TKDZForm::sbCopyClick);
  connect(sbLabel_, &QToolButton::clicked, this, &TKDZForm::sbLabelClick);
  connect(sbKDL_, &QToolButton::clicked, this, &TKDZForm::sbKDLClick);
  connect(sbClose_, &QToolButton::clicked, this, &QWidget::close);
  connect(listBox1_, &QListWidget::itemDoubleClicked, this, [this] { sbSelClick(); });
}

QString TKDZForm::MainFolder() const { return context_.mainFolder ? context_.mainFolder() : QString(); }

bool TKDZForm::Run(QWidget* owner) {
  owner_ = owner;
  if (!Open()) return false;
  PlaceOver(this, owner);
  setWindowModality(Qt::ApplicationModal);
  listBox1_->setFocus();
  show();
  raise();
  activateWindow();
  QEventLoop loop;
  loop_ = &loop;
  loop.exec();
  loop_ = nullptr;
  return true;
}

bool TKDZForm::Open() {
  kdl::ArchiveState& archive = context_.work.archive;
  setWindowTitle(FromUtf8(archive.path));
  listBox1_->clear();
  sbKDZ_->clearMessage();
  const int messages = context_.prompter.MessagesShown();
  if (kdl::OpenArchive(archive, archive.path) < 0) {
    SayIfNotAnArchive(context_, messages, archive.path, owner_);
    return false;
  }
  ListArchive();
  return true;
}

void TKDZForm::ListArchive() {
  listBox1_->clear();
  kdl::ListArchive(context_.work.archive,
                   [this](const std::string& line) { listBox1_->addItem(FromSjis(line)); });
}

int TKDZForm::SelectedIndex() const {
  const QList<QListWidgetItem*> selected = listBox1_->selectedItems();
  return selected.size() == 1 ? listBox1_->row(selected.front()) : -1;
}

bool TKDZForm::PositionOnSelected() {
  kdl::ArchiveState& archive = context_.work.archive;
  if (kdl::PositionOnEntry(archive, SelectedIndex()) != 1) return false;
  context_.work.image.currentImagePath = kdl::SjisToUtf8(archive.entry.NameText());
  return true;
}

void TKDZForm::sbSelClick() {
  if (SelectedIndex() < 0 || links_.browse == nullptr || !PositionOnSelected()) return;
  hide();
  links_.browse->Run(this);
  // Shown again as it was: opening and listing happen only in Run, so the archive stays open and the list
  // and its selection stay as they are.
  show();
  raise();
  activateWindow();
}

void TKDZForm::sbRestoreClick() {
  kdl::ImageWork& work = context_.work.image;
  kdl::RewindArchive(context_.work.archive);
  if (SelectedIndex() < 0) {
    if (links_.archiveDialog == nullptr) return;
    work.openCloseFlags = 0;
    work.dialogMode = kdl::kModeRestoreWithSkip;
    links_.archiveDialog->Run(this);
    return;
  }
  if (links_.imageDialog == nullptr || !PositionOnSelected()) return;
  work.dialogMode = kdl::kModeRestoreWithSkip;
  SetImageFlags(work);
  links_.imageDialog->Run(this);
}

void TKDZForm::sbCopyClick() {
  if (links_.copy == nullptr) return;
  kdl::ImageWork& work = context_.work.image;
  if (SelectedIndex() < 0) {
    work.dialogMode = kCopyAllImages;
    work.openCloseFlags = 0;
    kdl::RewindArchive(context_.work.archive);
  } else {
    if (!PositionOnSelected()) return;
    work.dialogMode = kCopyWholeImage;
    SetImageFlags(work);
  }
  links_.copy->SetSelection(nullptr, {});
  links_.copy->Run(this);
}

void TKDZForm::sbLabelClick() {
  kdl::ImageWork& work = context_.work.image;
  work.dialogMode = kdl::kModeLabels;
  if (SelectedIndex() < 0) {
    if (links_.archiveDialog == nullptr) return;
    work.openCloseFlags = 0;
    links_.archiveDialog->Run(this);
    return;
  }
  const int row = SelectedIndex();
  if (links_.imageDialog == nullptr || !PositionOnSelected()) return;
  SetImageFlags(work);
  links_.imageDialog->Run(this);
  if (work.dialogResult != 0) {
    ListArchive();
    listBox1_->setCurrentRow(row);
  }
}

void TKDZForm::sbKDLClick() {
  const int row = SelectedIndex();
  if (row < 0) return;
  QString name = context_.dialogs.SaveFileName(this, kExtractCaption, MainFolder(), kExtractFilter);
  if (name.isEmpty()) return;
  if (QFileInfo(name).suffix().toUpper() != QLatin1String("KDL")) name += QStringLiteral(".KDL");
  if (QFileInfo::exists(name) &&
      context_.dialogs.Message(this, kExtractCaption,
                               QStringLiteral("KDL %1 は存在します。上書きしますか？(Y/N):").arg(name),
                               kdl::Buttons::kYesNo, kdl::Icon::kQuestion) != kdl::Answer::kYes) {
    return;
  }
  sbKDZ_->showMessage(QStringLiteral("抽出中：KDL %1 ").arg(name));
  sbKDZ_->repaint();
  const int64_t written = kdl::ExtractEntry(context_.work.archive, ToUtf8(name), row);
  sbKDZ_->clearMessage();
  if (written >= 0) {
    context_.dialogs.Message(this, kExtractCaption, QStringLiteral("抽出完了：KDL %1 ").arg(name),
                             kdl::Buttons::kOk, kdl::Icon::kInformation);
  }
  context_.work.image.listChanged = true;
}

bool TKDZForm::HandleKey(QKeyEvent* key, QWidget*) {
  switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_S:
      sbSelClick();
      return true;
    case Qt::Key_Escape:
    case Qt::Key_E:
      context_.work.image.dialogResult = 0;
      close();
      return true;
    case Qt::Key_C:
      sbCopyClick();
      return true;
    case Qt::Key_L:
      sbLabelClick();
      return true;
    case Qt::Key_R:
      sbRestoreClick();
      return true;
    case Qt::Key_X:
      sbKDLClick();
      return true;
    default:
      return false;
  }
}

void TKDZForm::closeEvent(QCloseEvent* event) {
  kdl::CloseArchive(context_.work.archive);
  event->accept();
  if (loop_ != nullptr) loop_->quit();
}

bool TKDZForm::event(QEvent* event) {
  if (ShowHint(event, sbKDZ_)) return true;
  return QWidget::event(event);
}

}  // namespace kdlw
