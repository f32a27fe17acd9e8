#include "kdlw/components/folder_tree_model.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace kdlw {
namespace {

// True when `entry` of the open folder `folder` is a folder (a link to one counts).
bool IsFolderEntry(int folder, const dirent& entry) {
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
  struct stat st {};
  return ::fstatat(folder, entry.d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

// The names of the sub-folders of `path` ("." and ".." left out, hidden ones included), or at most one of
// them when `firstOnly`. Empty when the folder cannot be read.
std::optional<QStringList> ScanFolders(const QString& path, bool firstOnly) {
  DIR* dir = ::opendir(QFile::encodeName(path).constData());
  if (dir == nullptr) return std::nullopt;
  QStringList names;
  while (const dirent* entry = ::readdir(dir)) {
    const char* n = entry->d_name;
    if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) continue;
    if (!IsFolderEntry(::dirfd(dir), *entry)) continue;
    names << QFile::decodeName(n);
    if (firstOnly) break;
  }
  ::closedir(dir);
  return names;
}

// True when `path` lies on another file system than the folder above it.
bool IsMountPoint(const QString& path) {
  struct stat self {};
  struct stat above {};
  const QString parent = QFileInfo(path).absolutePath();
  return ::stat(QFile::encodeName(path).constData(), &self) == 0 &&
         ::stat(QFile::encodeName(parent).constData(), &above) == 0 && self.st_dev != above.st_dev;
}

}  // namespace

FolderTreeModel::FolderTreeModel(QObject* parent) : QAbstractItemModel(parent) {
  collator_.setCaseSensitivity(Qt::CaseInsensitive);
  collator_.setNumericMode(true);
  auto root = std::make_unique<Node>();
  root->name = QStringLiteral("/");
  root->parent = &top_;
  top_.children.push_back(std::move(root));
  top_.read = true;
}

FolderTreeModel::~FolderTreeModel() = default;

FolderTreeModel::Node* FolderTreeModel::NodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<Node*>(index.internalPointer()) : const_cast<Node*>(&top_);
}

QModelIndex FolderTreeModel::IndexOfNode(const Node* node) const {
  if (node == nullptr || node == &top_) return {};
  return createIndex(node->row, 0, const_cast<Node*>(node));
}

QString FolderTreeModel::PathOf(const Node* node) const {
  if (node == nullptr || node == &top_) return {};
  if (node->parent == &top_) return node->name;
  const QString above = PathOf(node->parent);
  return above.endsWith(QLatin1Char('/')) ? above + node->name : above + QLatin1Char('/') + node->name;
}

QString FolderTreeModel::FilePath(const QModelIndex& index) const {
  return index.isValid() ? PathOf(NodeOf(index)) : QString();
}

bool FolderTreeModel::Less(const QString& a, const QString& b) const {
  const int order = collator_.compare(a, b);
  return order != 0 ? order < 0 : a < b;
}

std::optional<QStringList> FolderTreeModel::ReadFolders(const QString& path) const {
  std::optional<QStringList> names = ScanFolders(path, false);
  if (names)
    std::sort(names->begin(), names->end(),
              [this](const QString& a, const QString& b) { return Less(a, b); });
  return names;
}

bool FolderTreeModel::HasFolders(const Node* node) const {
  if (node->hasFolders < 0) {
    const QString path = PathOf(node);
    // Another file system (a network share, a removable disk) is only looked into when the user opens it.
    const std::optional<QStringList> first =
        IsMountPoint(path) ? QStringList{QString()} : ScanFolders(path, true);
    node->hasFolders = first && !first->isEmpty() ? 1 : 0;
  }
  return node->hasFolders == 1;
}

void FolderTreeModel::Renumber(Node* node) {
  for (size_t i = 0; i < node->children.size(); ++i) node->children[i]->row = static_cast<int>(i);
}

FolderTreeModel::Node* FolderTreeModel::AddChild(Node* node, const QString& name) {
  auto& children = node->children;
  const auto at =
      std::lower_bound(children.begin(), children.end(), name,
                       [this](const std::unique_ptr<Node>& c, const QString& n) { return Less(c->name, n); });
  const int row = static_cast<int>(at - children.begin());
  auto child = std::make_unique<Node>();
  child->name = name;
  child->parent = node;
  Node* added = child.get();
  beginInsertRows(IndexOfNode(node), row, row);
  children.insert(at, std::move(child));
  Renumber(node);
  endInsertRows();
  return added;
}

void FolderTreeModel::Merge(Node* node, const QStringList& names) {
  const QModelIndex index = IndexOfNode(node);
  auto& children = node->children;
  const QSet<QString> present(names.begin(), names.end());
  // Gone folders first, from the end so that the rows still to look at keep their numbers.
  for (int i = static_cast<int>(children.size()) - 1; i >= 0; --i) {
    if (present.contains(children[static_cast<size_t>(i)]->name)) continue;
    beginRemoveRows(index, i, i);
    children.erase(children.begin() + i);
    Renumber(node);
    endRemoveRows();
  }
  if (children.empty() && !names.isEmpty()) {
    beginInsertRows(index, 0, static_cast<int>(names.size()) - 1);
    for (const QString& name : names) {
      auto child = std::make_unique<Node>();
      child->name = name;
      child->parent = node;
      children.push_back(std::move(child));
    }
    Renumber(node);
    endInsertRows();
    return;
  }
  // Both are in display order: a new name goes where the walk meets it.
  for (qsizetype j = 0; j < names.size(); ++j) {
    const auto at = static_cast<size_t>(j);
    if (at < children.size() && children[at]->name == names[j]) continue;
    AddChild(node, names[j]);
  }
}

void FolderTreeModel::Read(Node* node) {
  node->read = true;
  const std::optional<QStringList> names = ReadFolders(PathOf(node));
  // A folder that cannot be read keeps what is known of it (a path below it may still be reachable).
  if (names) Merge(node, *names);
  node->hasFolders = node->children.empty() ? 0 : 1;
  const QModelIndex index = IndexOfNode(node);
  if (index.isValid()) emit dataChanged(index, index);
}

void FolderTreeModel::Refresh(const QModelIndex& index) {
  Node* node = NodeOf(index);
  if (node == &top_) return;
  if (!node->read) {
    // Not read yet: only whether it has sub-folders (its expand arrow) may have changed.
    node->hasFolders = -1;
    emit dataChanged(index, index);
    return;
  }
  for (const auto& child : node->children) child->hasFolders = -1;
  Read(node);
}

QModelIndex FolderTreeModel::IndexOf(const QString& path) {
  const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  if (!QFileInfo(clean).isDir()) return {};
  Node* node = top_.children.front().get();
  for (const QString& name : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    if (!node->read) Read(node);
    Node* next = nullptr;
    for (const auto& child : node->children) {
      if (child->name == name) next = child.get();
    }
    // A folder that can be entered below one that cannot be read is added by itself.
    node = next != nullptr ? next : AddChild(node, name);
  }
  return IndexOfNode(node);
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (column != 0 || row < 0 || static_cast<size_t>(row) >= node->children.size()) return {};
  return createIndex(row, 0, node->children[static_cast<size_t>(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  return child.isValid() ? IndexOfNode(NodeOf(child)->parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.column() > 0) return 0;
  return static_cast<int>(NodeOf(parent)->children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole) return NodeOf(index)->name;
  if (role == Qt::DecorationRole) return icons_.icon(QFileIconProvider::Folder);
  return {};
}

bool FolderTreeModel::hasChildren(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  if (node == &top_) return true;
  return node->read ? !node->children.empty() : HasFolders(node);
}

bool FolderTreeModel::canFetchMore(const QModelIndex& parent) const {
  const Node* node = NodeOf(parent);
  return node != &top_ && !node->read;
}

void FolderTreeModel::fetchMore(const QModelIndex& parent) {
  Node* node = NodeOf(parent);
  if (node != &top_ && !node->read) Read(node);
}

}  // namespace kdlw
