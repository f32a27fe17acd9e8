#include "kdlw/app/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "kdlw/app/mounts.h"
#include "kdlw/common/app_icon.h"
#include "kdlw/common/desktop_opener.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/tool_button.h"
#include "kdlw/components/animate_form.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/components/image_file_info.h"
#include "kdlw/components/splitter.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

constexpr int kDefaultTreeWidth = 169;

QAction* MakeAction(QMenu* menu, const char* name, const QString& caption) {
  QAction* action = menu->addAction(caption);
  action->setObjectName(QString::fromLatin1(name));
  return action;
}

}  // namespace

TMainForm::TMainForm(AppContext& context, MainFormOptions options, QWidget* parent)
    : QMainWindow(parent),
      context_(context),
      options_(std::move(options)),
      mounts_(std::make_unique<MountList>()) {
  setObjectName(QStringLiteral("MainForm"));
  opener_ = new DesktopOpener(this);
  setWindowTitle(QStringLiteral("ＫＤＬＷ"));
  setWindowIcon(AppIcon());
  setFont(JapaneseUiFont(12));
  setGeometry(DesignGeometry());

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  panel1_ = new QWidget(central);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  panel1_->setFixedHeight(33);
  BuildButtons();
  splitter1_ = new TSplitter(Qt::Horizontal, central);
  splitter1_->setObjectName(QStringLiteral("Splitter1"));
  splitter1_->setHandleWidth(2);
  folderView1_ = new TFolderView(splitter1_);
  folderView1_->setObjectName(QStringLiteral("FolderView1"));
  fileView1_ = new TFileView(splitter1_);
  fileView1_->setObjectName(QStringLiteral("FileView1"));
  splitter1_->addWidget(folderView1_);
  splitter1_->addWidget(fileView1_);
  splitter1_->setStretchFactor(0, 0);
  splitter1_->setStretchFactor(1, 1);
  splitter1_->setSizes({kDefaultTreeWidth, qMax(1, width() - kDefaultTreeWidth)});
  column->addWidget(panel1_);
  column->addWidget(splitter1_, 1);
  setCentralWidget(central);
  stsKDSts_ = MakeSimpleStatusBar(this, "stsKDSts");
  stsKDSts_->setSizeGripEnabled(true);
  setStatusBar(stsKDSts_);

  folderView1_->SetFileView(fileView1_);
  fileView1_->SetIsExecute(false);
  fileView1_->SetMask(ImageListMask());
  animateForm1_ = new TAnimateForm(this);
  BuildMenus();

  connect(folderView1_, &TFolderView::Changed, this, &TMainForm::FolderView1Change);
  connect(fileView1_, &TFileView::DblClick, this, &TMainForm::Open);
  fileView1_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(fileView1_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { popupMenu1_->popup(fileView1_->viewport()->mapToGlobal(pos)); });
  // Every key pressed in this window comes here before the control that has the focus.
  qApp->installEventFilter(this);

  kdl::ImageWork& work = context_.work.image;
  work.compress = true;
  work.omitUnused = true;
  work.verify = false;

  if (CommandLineMode()) {
    folderView1_->SetPath({});
  } else {
    LoadSettings();
    FolderView1Change(TreeFolder());
  }
  UpdateCommandStates();
  // The keys work on the file list from the start.
  fileView1_->setFocus();
}

TMainForm::~TMainForm() { qApp->removeEventFilter(this); }

void TMainForm::BuildButtons() {
  auto* row = new QHBoxLayout(panel1_);
  row->setContentsMargins(16, 4, 4, 4);
  row->setSpacing(0);
  sbSel_ = MakeToolButton(panel1_, "sbSel", QStringLiteral("選択(&S)"),
                          QStringLiteral("ＫＤＬ・ＫＤＺファイルの中を見ます"));
  sbRestore_ = MakeToolButton(panel1_, "sbRestore", QStringLiteral("ＦＤ再生(R)"),
                              QStringLiteral("ＫＤＬからフロッピーﾃﾞｨｽｸを作ります"));
  sbCopy_ = MakeToolButton(panel1_, "sbCopy", QStringLiteral("全COPY(&C)"),
                           QStringLiteral("ＫＤＬ・ＫＤＺの中から全てのファイルをコピーします"));
  sbKDL_ = MakeToolButton(panel1_, "sbKDL", QStringLiteral("KDL作成(&V)"),
                          QStringLiteral("フロッピーﾃﾞｨｽｸからＫＤＬを作ります"));
  sbKDZ_ = MakeToolButton(panel1_, "sbKDZ", QStringLiteral("KDZ更新(&Z)"),
                          QStringLiteral("ＫＤＺファイルの作成またはＫＤＺにＦＤからＫＤＬを追加します"));
  sbLabel_ = MakeToolButton(panel1_, "sbLabel", QStringLiteral("ラベル(&L)"),
                            QStringLiteral("ＫＤＬ・ＫＤＺファイルのラベルを表示します"));
  sbClose_ = MakeToolButton(panel1_, "sbClose", QStringLiteral("閉じる(&E)"),
                            QStringLiteral("ＫＤＬＷを終了します"));
  for (QToolButton* b : {sbSel_, sbRestore_, sbCopy_, sbKDL_, sbKDZ_, sbLabel_, sbClose_}) row->addWidget(b);
  row->addStretch(1);

  connect(sbSel_, &QToolButton::clicked, this, &TMainForm::Open);
  connect(sbRestore_, &QToolButton::clicked, this, &TMainForm::Restore);
  connect(sbCopy_, &QToolButton::clicked, this, &TMainForm::CopyAll);
  connect(sbKDL_, &QToolButton::clicked, this, &TMainForm::CreateImage);
  connect(sbKDZ_, &QToolButton::clicked, this, &TMainForm::CreateOrUpdateArchive);
  connect(sbLabel_, &QToolButton::clicked, this, &TMainForm::Labels);
  connect(sbClose_, &QToolButton::clicked, this, &QWidget::close);
}

void TMainForm::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  k5_ = MakeAction(file, "K5", QStringLiteral("ＫＤＬ作成(&V)"));
  kNew_ = MakeAction(file, "KNew", QStringLiteral("空のＫＤＬ作成(&N)..."));
  k6_ = MakeAction(file, "K6", QStringLiteral("ＫＤＺ作成・更新(&Z)"));
  k7_ = MakeAction(file, "K7", QStringLiteral("ファイルのコピー(&C)"));
  k8_ = MakeAction(file, "K8", QStringLiteral("ＦＤ再生(&R)"));
  k9_ = MakeAction(file, "K9", QStringLiteral("ラベルの表示(&L)"));
  kT1_ = MakeAction(file, "KT1", QStringLiteral("テスト(&T)"));
  kImgIn_ = MakeAction(file, "KImgIn", QStringLiteral("imgファイルを開く(&I)"));
  kimgOI1_ = MakeAction(file, "KimgOI1", QStringLiteral("imgファイルを出力(&O)"));
  kMount_ = MakeAction(file, "KMount", QStringLiteral("マウント(&M)"));
  file->addSeparator();
  QAction* k10 = MakeAction(file, "K10", QStringLiteral("ＫＤＬＷの終了(&E)"));
  QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
  QAction* ka1 = MakeAction(help, "KA1", QStringLiteral("バージョン情報(&A)"));

  connect(k5_, &QAction::triggered, this, &TMainForm::CreateImage);
  connect(kNew_, &QAction::triggered, this, &TMainForm::NewBlankImage);
  connect(k6_, &QAction::triggered, this, &TMainForm::CreateOrUpdateArchive);
  connect(k7_, &QAction::triggered, this, &TMainForm::CopyAll);
  connect(k8_, &QAction::triggered, this, &TMainForm::Restore);
  connect(k9_, &QAction::triggered, this, &TMainForm::Labels);
  connect(kT1_, &QAction::triggered, this, &TMainForm::Test);
  connect(kImgIn_, &QAction::triggered, this, &TMainForm::OpenRawImage);
  connect(kimgOI1_, &QAction::triggered, this, &TMainForm::RawImageOutput);
  connect(kMount_, &QAction::triggered, this, &TMainForm::Mount);
  connect(k10, &QAction::triggered, this, &QWidget::close);
  connect(ka1, &QAction::triggered, this, &TMainForm::About);

  popupMenu1_ = new QMenu(this);
  popupMenu1_->setObjectName(QStringLiteral("PopupMenu1"));
  popupOpen_ = MakeAction(popupMenu1_, "PopupOpen", QStringLiteral("開く"));
  popupCopy_ = MakeAction(popupMenu1_, "PopupCopy", QStringLiteral("コピー"));
  popupRestore_ = MakeAction(popupMenu1_, "PopupRestore", QStringLiteral("ＦＤ再生"));
  popupLabel_ = MakeAction(popupMenu1_, "PopupLabel", QStringLiteral("ラベル表示"));
  popupMount_ = MakeAction(popupMenu1_, "PopupMount", QStringLiteral("マウント"));
  popupMenu1_->addSeparator();
  QAction* k12 = MakeAction(popupMenu1_, "K12", QStringLiteral("ファイル削除"));
  QAction* k13 = MakeAction(popupMenu1_, "K13", QStringLiteral("名称変更"));
  connect(popupOpen_, &QAction::triggered, this, &TMainForm::Open);
  connect(popupCopy_, &QAction::triggered, this, &TMainForm::CopyAll);
  connect(popupRestore_, &QAction::triggered, this, &TMainForm::Restore);
  connect(popupLabel_, &QAction::triggered, this, &TMainForm::Labels);
  connect(popupMount_, &QAction::triggered, this, &TMainForm::Mount);
  connect(k12, &QAction::triggered, this, &TMainForm::DeleteSelected);
  connect(k13, &QAction::triggered, this, &TMainForm::RenameSelected);
}

void TMainForm::UpdateCommandStates() {
  const WindowHooks& w = context_.windows;
  const bool open = w.browse || w.archive;
  const bool dialogs = w.imageDialog || w.archiveDialog;
  sbSel_->setEnabled(open);
  popupOpen_->setEnabled(open);
  for (QWidget* b : {static_cast<QWidget*>(sbRestore_), static_cast<QWidget*>(sbLabel_)})
    b->setEnabled(dialogs);
  for (QAction* a : {k8_, k9_, popupRestore_, popupLabel_}) a->setEnabled(dialogs);
  sbCopy_->setEnabled(bool(w.copy));
  k7_->setEnabled(bool(w.copy));
  popupCopy_->setEnabled(bool(w.copy));
  sbKDL_->setEnabled(bool(w.imageDialog));
  k5_->setEnabled(bool(w.imageDialog));
  kimgOI1_->setEnabled(bool(w.imageDialog));
  sbKDZ_->setEnabled(bool(w.archiveDialog));
  k6_->setEnabled(bool(w.archiveDialog));
  kT1_->setEnabled(bool(w.viewer));
  kImgIn_->setEnabled(bool(w.browse));
}

bool TMainForm::HandleKey(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_S:
      Open();
      return true;
    case Qt::Key_Escape:
    case Qt::Key_E:
      AskQuit();
      return true;
    case Qt::Key_C:
      CopyAll();
      return true;
    case Qt::Key_L:
      Labels();
      return true;
    case Qt::Key_R:
      Restore();
      return true;
    case Qt::Key_T:
      Test();
      return true;
    case Qt::Key_V:
      CreateImage();
      return true;
    case Qt::Key_Z:
      CreateOrUpdateArchive();
      return true;
    case Qt::Key_F5:
      Refresh();
      return true;
    case Qt::Key_M:
      Mount();
      return true;
    default:
      return false;
  }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  // The menu bar's own keyboard navigation takes letters as menu mnemonics.
  if (widget == nullptr || widget->window() != this || qobject_cast<QMenuBar*>(widget) != nullptr)
    return false;
  // A control that has grabbed the keyboard (the splitter during a drag) gets its keys first.
  if (QWidget::keyboardGrabber() != nullptr) return false;
  return HandleKey(static_cast<QKeyEvent*>(event)->key());
}

void TMainForm::closeEvent(QCloseEvent* event) {
  SaveSettings();
  mounts_->UnmountAll();
  event->accept();
}

void TMainForm::FolderView1Change(const QString& path) {
  setWindowTitle(QStringLiteral("ＫＤＬＷ : ") + path);
}

QString TMainForm::TreeFolder() const { return folderView1_->Path(); }

void TMainForm::BringToFront() {
  if (isVisible() && isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  QWidget* target = QApplication::activeModalWidget();
  if (target == nullptr && isVisible()) target = this;
  if (target == nullptr) return;
  if (target->isMinimized()) target->setWindowState(target->windowState() & ~Qt::WindowMinimized);
  target->raise();
  target->activateWindow();
}

}  // namespace kdlw
