// The folders of the host file system as a tree from "/" down, read synchronously and lazily: a folder's
// sub-folders are read when the folder is first expanded or when a path below it is asked for, so a chosen
// folder is in the tree at once, with its parents, instead of appearing seconds later. A folder shows an
// expand arrow only when it has sub-folders; a folder on another file system (a mount point) is not looked
// into before it is expanded.
#pragma once

#include <QAbstractItemModel>
#include <QCollator>
#include <QFileIconProvider>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace kdlw {

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit FolderTreeModel(QObject* parent = nullptr);
  ~FolderTreeModel() override;

  // The node of the folder `path` (made absolute and clean), its parents read as needed; invalid when
  // `path` is not a folder.
  QModelIndex IndexOf(const QString& path);
  // The folder's path; empty for an invalid index.
  QString FilePath(const QModelIndex& index) const;
  // Reads the sub-folders of a folder that has been read before again: new ones are added, gone ones
  // removed, the others keep their nodes (and what was read below them).
  void Refresh(const QModelIndex& index);

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool hasChildren(const QModelIndex& parent = {}) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 private:
  struct Node {
    QString name;
    Node* parent = nullptr;
    int row = 0;
    std::vector<std::unique_ptr<Node>> children;
    bool read = false;            // the sub-folders have been read
    mutable int hasFolders = -1;  // -1 not yet known, else 0 or 1
  };

  Node* NodeOf(const QModelIndex& index) const;
  QModelIndex IndexOfNode(const Node* node) const;
  QString PathOf(const Node* node) const;
  // The sub-folders of `path` in display order; empty when the folder cannot be read.
  std::optional<QStringList> ReadFolders(const QString& path) const;
  bool HasFolders(const Node* node) const;
  bool Less(const QString& a, const QString& b) const;
  // Brings the children of `node` in line with `names` (in display order).
  void Merge(Node* node, const QStringList& names);
  void Read(Node* node);
  // Adds the child `name` of `node` in its place in the order; returns it.
  Node* AddChild(Node* node, const QString& name);
  static void Renumber(Node* node);

  Node top_;  // holds the one top-level node, "/"
  QFileIconProvider icons_;
  QCollator collator_;
};

}  // namespace kdlw
