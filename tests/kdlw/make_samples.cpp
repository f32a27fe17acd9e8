// Makes a folder of sample files for pictures of the main window:
//   kdlw_make_samples FOLDER RAW.img...
// Each raw FAT12 disk becomes FOLDER/<name>.KDL with label lines; all of them together FOLDER/SAMPLES.KDZ.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "samples.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments().mid(1);
  if (args.size() < 2) {
    std::fprintf(stderr, "usage: kdlw_make_samples FOLDER RAW.img...\n");
    return 2;
  }
  const QDir folder(args[0]);
  const QStringList comments = {QStringLiteral("ゲーム　データディスク"),
                                QStringLiteral("ワープロ文書　１９９８年"),
                                QStringLiteral("システムディスク　バックアップ")};
  std::vector<QByteArray> images;
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString comment = comments[(i - 1) % comments.size()];
    const QByteArray image = kdlwtest::ImageFromRawDisk(kdlwtest::ReadFileBytes(args[i]),
                                                        {comment, QStringLiteral("sample disk %1").arg(i)});
    if (image.isEmpty()) {
      std::fprintf(stderr, "%s: not a supported disk\n", qPrintable(args[i]));
      return 1;
    }
    const QString name = QFileInfo(args[i]).completeBaseName().toUpper() + QStringLiteral(".KDL");
    if (!kdlwtest::WriteFileBytes(folder.filePath(name), image)) return 1;
    images.push_back(image);
  }
  const QByteArray archive =
      kdlwtest::ArchiveBytes(QStringLiteral("サンプル　アーカイブ"), QStringLiteral("KDLW samples"), images);
  return kdlwtest::WriteFileBytes(folder.filePath(QStringLiteral("SAMPLES.KDZ")), archive) ? 0 : 1;
}
