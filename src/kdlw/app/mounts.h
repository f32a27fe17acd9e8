// The images and archives the window program has mounted: each on a folder of its own under the user's
// runtime folder, served by threads of this process, and all unmounted when the program ends.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace kdlmount {
class MountSession;
}

namespace kdlw {

class MountList {
 public:
  // Mount points go below `baseFolder`; empty: "kdlw-mounts" in the user's runtime folder.
  explicit MountList(QString baseFolder = {});
  ~MountList();
  MountList(const MountList&) = delete;
  MountList& operator=(const MountList&) = delete;

  // Mounts the image or archive `source`, or finds it mounted already. The mount point, or empty with the
  // reason in `error`.
  QString Mount(const QString& source, QString& error);
  // Unmounts everything and removes the mount points.
  void UnmountAll();
  QStringList MountPoints() const;

 private:
  struct Entry;
  QString base_;
  std::vector<std::unique_ptr<Entry>> entries_;
};

}  // namespace kdlw
