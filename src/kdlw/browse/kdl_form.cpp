#include "kdlw/browse/kdl_form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "browse/fat.h"
#include "kdlw/common/desktop_opener.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/placement.h"
#include "kdlw/common/tool_button.h"
#include "kdlw/components/splitter.h"
#include "kdlw/components/system_menu.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

constexpr int kTreeWidth = 201;
constexpr int kColumnWidth = 120;

void AddFolderNodes(QTreeWidgetItem* parent, const std::vector<kdl::FolderNode>& nodes) {
  for (const kdl::FolderNode& node : nodes) {
    auto* item = new QTreeWidgetItem(parent, {FromUtf8(node.name)});
    AddFolderNodes(item, node.children);
  }
}

}  // namespace

TKDLForm::TKDLForm(AppContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window),
      context_(context),
      image_(std::make_unique<kdl::ImageState>(context.work.image)) {
  setObjectName(QStringLiteral("KDLForm"));
  setWindowTitle(QStringLiteral("KDLForm"));
  setFont(JapaneseUiFont(12));
  resize(600, 430);
  BuildControls();
  opener_ = new DesktopOpener(this);
  openUrl = [this](const QUrl& url) {
    const QString file = url.toLocalFile();
    opener_->Open(file, [this, file] { SayNoProgramFor(file); });
    return true;
  };
  keys_ = new KeyPreview(this, [this](QKeyEvent* key, QWidget* target) { return HandleKey(key, target); });
  BuildEditControls();
}

TKDLForm::~TKDLForm() {
  // The image object outlives every control that could still reach it.
  image_->CloseImage();
}

void TKDLForm::BuildControls() {
  panel1_ = new QWidget(this);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  sbRestore_ = MakeToolButton(panel1_, "sbRestore", QStringLiteral("FD再生(&R)"),
                              QStringLiteral("ＫＤＬからフロッピーﾃﾞｨｽｸを作ります"));
  sbCopy_ = MakeToolButton(panel1_, "sbCopy", QStringLiteral("Copy(&C)"),
                           QStringLiteral("ＫＤＬの中から選択したファイルをコピーします"));
  sbView_ = MakeToolButton(panel1_, "sbView", QStringLiteral("View(&V)"),
                           QStringLiteral("選択ファイルの中身をテキスト表示"));
  sbDump_ = MakeToolButton(panel1_, "sbDump", QStringLiteral("Dump(&D)"),
                           QStringLiteral("選択ファイルの中１６進表示"));
  sbLabel_ = MakeToolButton(panel1_, "sbLabel", QStringLiteral("ラベル(&L)"),
                            QStringLiteral("ＫＤＬファイルのラベルを表示します"));
  sbClose_ = MakeToolButton(panel1_, "sbClose", QStringLiteral("閉じる(&E)"),
                            QStringLiteral("このフォームを終了します"));
  auto* row = new QHBoxLayout(panel1_);
  row->setContentsMargins(8, 4, 4, 4);
  row->setSpacing(0);
  for (QToolButton* b : {sbRestore_, sbCopy_, sbView_, sbDump_, sbLabel_, sbClose_}) row->addWidget(b);
  row->addStretch(1);

  splitter1_ = new TSplitter(Qt::Horizontal, this);
  splitter1_->setObjectName(QStringLiteral("Splitter1"));
  splitter1_->setHandleWidth(3);
  treeView1_ = new QTreeWidget(splitter1_);
  treeView1_->setObjectName(QStringLiteral("TreeView1"));
  treeView1_->setHeaderHidden(true);
  treeView1_->setColumnCount(1);
  listView1_ = new QTreeWidget(splitter1_);
  listView1_->setObjectName(QStringLiteral("ListView1"));
  listView1_->setColumnCount(3);
  listView1_->setHeaderLabels(
      {QStringLiteral("ファイル名"), QStringLiteral("種類・サイズ"), QStringLiteral("作成日付")});
  listView1_->setRootIsDecorated(false);
  listView1_->setUniformRowHeights(true);
  listView1_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  listView1_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  listView1_->setFont(JapaneseFixedFont(12));
  listView1_->header()->setSectionsClickable(true);
  listView1_->header()->setStretchLastSection(false);
  for (int column = 0; column < 3; ++column) listView1_->setColumnWidth(column, kColumnWidth);
  splitter1_->addWidget(treeView1_);
  splitter1_->addWidget(listView1_);
  splitter1_->setStretchFactor(0, 0);
  splitter1_->setStretchFactor(1, 1);
  splitter1_->setSizes({kTreeWidth, width() - kTreeWidth});
  statusBar1_ = MakeSimpleStatusBar(this, "StatusBar1");

  menuBar1_ = new QMenuBar(this);
  menuBar1_->setObjectName(QStringLiteral("MenuBar1"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->setMenuBar(menuBar1_);
  column->addWidget(panel1_);
  column->addWidget(splitter1_, 1);
  column->addWidget(statusBar1_);

  systemMenu1_ = new TSystemMenu(this);
  systemMenu1_->AddItem(QStringLiteral("-"));
  systemMenu1_->AddItem(QStringLiteral("Copy(&C)"), [this] { CopyCommand(); });
  systemMenu1_->AddItem(QStringLiteral("View(&V)"), [this] { ViewCommand(); });
  systemMenu1_->AddItem(QStringLiteral("Dump(&D)"), [this] { DumpCommand(); });
  systemMenu1_->AddItem(QStringLiteral("FD再生(&R)"), [this] { RestoreCommand(); });
  systemMenu1_->AddItem(QStringLiteral("ラベル(&L)"), [this] { LabelCommand(); });
  systemMenu1_->AddItem(QStringLiteral("開く(&O)"), [this] { OpenSelectedItem(); });
  systemMenu1_->AttachTo(panel1_);
  systemMenu1_->AttachTo(statusBar1_);
  systemMenu1_->AddToMenuBar(menuBar1_, kWindowMenuTitle);

  connect(sbRestore_, &QToolButton::clicked, this, &TKDLForm::RestoreCommand);
  connect(sbCopy_, &QToolButton::clicked, this, &TKDLForm::CopyCommand);
  connect(sbView_, &QToolButton::clicked, this, &TKDLForm::ViewCommand);
  connect(sbDump_, &QToolButton::clicked, this, &TKDLForm::DumpCommand);
  connect(sbLabel_, &QToolButton::clicked, this, &TKDLForm::LabelCommand);
  connect(sbClose_, &QToolButton::clicked, this, &QWidget::close);
  connect(treeView1_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) { ListTreeNode(node); });
  connect(listView1_, &QTreeWidget::itemDoubleClicked, this, [this] { OpenSelectedItem(); });
  connect(listView1_->header(), &QHeaderView::sectionClicked, this, &TKDLForm::ColumnClick);
}

void TKDLForm::SetWindows(TKDIForm* imageDialog, TCopyForm* copy, TViewForm* viewer) {
  imageDialog_ = imageDialog;
  copy_ = copy;
  viewer_ = viewer;
}

int TKDLForm::Run(QWidget* owner) {
  if (!Open()) return -1;
  PlaceOver(this, owner);
  setWindowModality(Qt::ApplicationModal);
  // The keys work on the list from the start.
  listView1_->setFocus();
  show();
  raise();
  activateWindow();
  QEventLoop loop;
  loop_ = &loop;
  loop.exec();
  loop_ = nullptr;
  return 1;
}

bool TKDLForm::Open() {
  kdl::ImageWork& work = context_.work.image;
  const bool raw = work.dialogMode == kdl::kModeOpenRaw;
  imagePath_ = FromUtf8(raw ? work.rawImagePath : work.currentImagePath);
  raw_ = raw;
  currentDir_ = 0;
  setWindowTitle(imagePath_);
  // One image at a time: whatever an earlier use left open goes first.
  image_->CloseImage();
  if (image_->OpenImage(work.currentImagePath) < 0) {
    work.dialogResult = -1;
    return false;
  }
  BuildTree();
  ListDirectory(image_->root);
  treeView1_->setCurrentItem(treeView1_->topLevelItem(0));
  itemMode_ = kItemOpen;
  tempFile_.clear();
  return true;
}

void TKDLForm::BuildTree() {
  treeView1_->clear();
  auto* root = new QTreeWidgetItem(treeView1_, {QStringLiteral("\\")});
  const std::vector<kdl::FolderNode> nodes = kdl::BuildFolderTree(*image_, image_->root);
  AddFolderNodes(root, nodes);
  if (!nodes.empty()) treeView1_->expandAll();
}

void TKDLForm::ListTreeNode(QTreeWidgetItem* node) {
  if (node == nullptr) return;
  // The names from the root down; taken from the nodes, since a name on a disk may itself hold a "\".
  QStringList names;
  for (QTreeWidgetItem* n = node; n->parent() != nullptr; n = n->parent()) names.prepend(n->text(0));
  // Showing a folder is one operation: a damaged unit on the way is told once.
  image_->BeginOperation();
  kdl::DirectoryTable table = image_->root;
  currentDir_ = 0;
  for (const QString& name : names) {
    const kdl::DirectoryEntry* entry = kdl::FindEntryByName(table, ToUtf8(name));
    // A directory that is no longer found (two entries of one name on a damaged disk) ends the walk there.
    if (entry == nullptr || !entry->IsDirectory()) break;
    currentDir_ = entry->FirstCluster();
    table = kdl::LoadSubdirectory(*image_, *entry);
  }
  ListDirectory(std::move(table));
}

void TKDLForm::ListDirectory(kdl::DirectoryTable table) {
  current_ = std::move(table);
  items_ = kdl::ListDirectory(current_);
  signs_ = {-1, -1, -1};
  FillList();
}

void TKDLForm::FillList() {
  listView1_->clear();
  QList<QTreeWidgetItem*> rows;
  rows.reserve(static_cast<qsizetype>(items_.size()));
  for (const kdl::ListItem& item : items_) {
    rows << new QTreeWidgetItem({FromUtf8(item.caption), FromUtf8(item.typeText), FromUtf8(item.dateText)});
  }
  listView1_->addTopLevelItems(rows);
}

void TKDLForm::ColumnClick(int column) {
  if (column < 0 || column >= static_cast<int>(signs_.size())) return;
  const int sign = signs_[static_cast<size_t>(column)] = -signs_[static_cast<size_t>(column)];
  std::stable_sort(items_.begin(), items_.end(),
                   [column, sign](const kdl::ListItem& a, const kdl::ListItem& b) {
                     // Two volume labels (a damaged disk) are equal here: the label test alone would put each
                     // before the other.
                     if (a.typeText == kdl::kLabelTypeText && b.typeText == kdl::kLabelTypeText) return false;
                     return kdl::CompareListItems(a, b, column, sign) < 0;
                   });
  FillList();
}

const kdl::ListItem* TKDLForm::SelectedItem() const {
  const QList<QTreeWidgetItem*> selected = listView1_->selectedItems();
  if (selected.size() != 1) return nullptr;
  const int row = listView1_->indexOfTopLevelItem(selected.front());
  if (row < 0 || static_cast<size_t>(row) >= items_.size()) return nullptr;
  return &items_[static_cast<size_t>(row)];
}

bool TKDLForm::SelectName(const QString& name) {
  listView1_->clearSelection();
  for (size_t row = 0; row < items_.size(); ++row) {
    std::string caption = items_[row].caption;
    kdl::NormalizeListName(caption);
    if (FromUtf8(caption) != name) continue;
    QTreeWidgetItem* item = listView1_->topLevelItem(static_cast<int>(row));
    item->setSelected(true);
    listView1_->setCurrentItem(item);
    return true;
  }
  return false;
}

void TKDLForm::closeEvent(QCloseEvent* event) {
  // A change being written keeps the window and its image until it is done.
  if (busy_) {
    event->ignore();
    return;
  }
  image_->CloseImage();
  RememberTempFile({});
  event->accept();
  if (loop_ != nullptr) loop_->quit();
}

bool TKDLForm::event(QEvent* event) {
  if (ShowHint(event, statusBar1_)) return true;
  return QWidget::event(event);
}

}  // namespace kdlw
