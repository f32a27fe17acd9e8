// Changing an image from the window program: the browse window's add (dropped files and folders), new folder,
// rename, attributes, volume label and delete, with their questions, and the main window's new blank image.
// What the windows wrote is judged by fsck.fat and mtools on the raw disk `kdl raw` gives.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include "fat/format.h"
#include "image_fixture.h"
#include "kdlw/app/new_image_form.h"
#include "kdlw/browse/attrib_form.h"
#include "kdlw/browse/image_windows.h"
#include "kdlw/browse/kdl_form.h"
#include "scripted_dialogs.h"

namespace {

struct Bench {
  explicit Bench(const QString& image) {
    windows.Install();
    context.work.image.currentImagePath = image.toStdString();
  }
  kdlw::TKDLForm& Browse() { return windows.Browse(); }
  QStringList Captions() {
    QStringList names;
    for (const kdl::ListItem& item : Browse().Items())
      names << QString::fromStdString(item.caption).trimmed();
    return names;
  }
  bool Select(const QString& caption) { return Browse().SelectName(caption); }
  // The type/size text of the item shown as `caption`.
  QString TypeOf(const QString& caption) {
    for (const kdl::ListItem& item : Browse().Items()) {
      if (QString::fromStdString(item.caption).trimmed() == caption)
        return QString::fromStdString(item.typeText);
    }
    return {};
  }
  QString LastMessage() const { return dialogs.records.empty() ? QString() : dialogs.records.back().text; }

  kdlwtest::ScriptedDialogs dialogs;
  kdlw::AppContext context{dialogs};
  kdlw::ImageWindows windows{context, kdl::DriveSettings{}};
};

// Runs a command line and returns its standard output; empty when it fails.
QString Run(const QString& program, const QStringList& args, int* status = nullptr) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  p.waitForFinished(60000);
  if (status != nullptr) *status = p.exitCode();
  return QString::fromUtf8(p.readAllStandardOutput());
}

void Drop(QWidget* target, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  data.setUrls(urls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
}

}  // namespace

class EditTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }
  bool Write(const QString& name, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(Path(name)).path());
    QFile f(Path(name));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
  }
  // fsck.fat finds nothing to fix on the image's raw disk; the mcopy listing of it.
  QString Oracle(const QString& image) {
    const QString raw = Path("check.img");
    QFile::remove(raw);
    int status = -1;
    Run(QStringLiteral(KDL_BINARY), {"raw", image, raw}, &status);
    if (status != 0) return QStringLiteral("<kdl raw failed>");
    const QString fsck = Run(QStringLiteral("fsck.fat"), {"-n", raw}, &status);
    if (status != 0 || fsck.split('\n', Qt::SkipEmptyParts).size() != 2)
      return QStringLiteral("<fsck>") + fsck;
    return Run(QStringLiteral("mdir"), {"-/", "-b", "-i", raw, "::"});
  }

 private slots:
  void initTestCase() { QVERIFY(dir_.isValid()); }

  void browseWindowChangesTheImage() {
    const QString image = Path("DISK.KDL");
    // A disk formatted as this program formats one: its boot sector carries the label field too.
    QVERIFY(kdlwtest::WriteBytes(image, kdlwtest::KdlOf(kdl::FormatDisk(3, 0x12345678))));
    QVERIFY(Write("host/Tree/Long file name.txt", "a long name\n"));
    QVERIFY(Write("host/Tree/INNER/DEEP.BIN", QByteArray(3000, 'd')));
    QVERIFY(Write("host/README.TXT", "readme\n"));
    Bench b(image);
    QVERIFY(b.Browse().Open());
    b.Browse().show();

    // Files and folders dropped from the desktop's file manager land in the directory shown.
    Drop(b.Browse().ListView1()->viewport(), {Path("host/README.TXT"), Path("host/Tree")});
    QCOMPARE(b.Captions(), (QStringList{"README  .TXT", "Tree"}));
    QVERIFY(b.Browse().TreeView1()->topLevelItem(0)->childCount() == 1);

    // A file of the same name: the window asks, and No keeps the entry as it was.
    QVERIFY(Write("host2/README.TXT", "a different readme\n"));
    b.dialogs.answers = {kdl::Answer::kNo};
    QVERIFY(b.Browse().AddHostPaths({Path("host2/README.TXT")}));
    QVERIFY(b.LastMessage().contains(QStringLiteral("README.TXT")));
    QVERIFY(b.LastMessage().contains(QStringLiteral("上書きしますか？")));
    QVERIFY(b.TypeOf(QStringLiteral("README  .TXT")).endsWith(QStringLiteral("7 Bytes")));

    b.dialogs.inputs = {QStringLiteral("New folder")};
    b.Browse().NewFolderCommand();
    QVERIFY(b.Captions().contains(QStringLiteral("New folder")));

    QVERIFY(b.Select(QStringLiteral("README.TXT")));
    b.dialogs.inputs = {QStringLiteral("Read me.txt")};
    b.Browse().RenameCommand();
    QVERIFY(b.Captions().contains(QStringLiteral("Read me.txt")));

    QVERIFY(b.Select(QStringLiteral("Read me.txt")));
    b.Browse().runDialog = [](QDialog& dialog) {
      auto& form = static_cast<kdlw::TAttribForm&>(dialog);
      form.Box(0)->setCheckState(Qt::Checked);    // read-only
      form.Box(3)->setCheckState(Qt::Unchecked);  // archive
      return static_cast<int>(QDialog::Accepted);
    };
    b.Browse().AttributesCommand();
    QCOMPARE(b.TypeOf(QStringLiteral("Read me.txt")).left(4), QStringLiteral("--r-"));

    b.dialogs.inputs = {QStringLiteral("my floppy")};
    b.Browse().VolumeLabelCommand();
    QCOMPARE(b.Captions().front(), QStringLiteral("MY FLOPP.Y"));

    // Deleting a read-only file takes two Yes: the window's question and the read-only one.
    QVERIFY(b.Select(QStringLiteral("Read me.txt")));
    b.dialogs.answers = {kdl::Answer::kYes, kdl::Answer::kNo};
    b.Browse().DeleteCommand();
    QVERIFY(b.Captions().contains(QStringLiteral("Read me.txt")));
    QVERIFY(b.LastMessage().contains(QStringLiteral("読み込み専用")));
    b.dialogs.answers = {kdl::Answer::kYes, kdl::Answer::kYes};
    QVERIFY(b.Select(QStringLiteral("Read me.txt")));
    b.Browse().DeleteCommand();
    QVERIFY(!b.Captions().contains(QStringLiteral("Read me.txt")));

    // Into a subdirectory: the list shows it, and what is added goes there.
    QVERIFY(b.Select(QStringLiteral("Tree")));
    b.Browse().OpenSelectedItem();
    QVERIFY(b.Browse().CurrentDirectory() != 0);
    QVERIFY(b.Browse().AddHostPaths({Path("host2/README.TXT")}));
    QVERIFY(b.Captions().contains(QStringLiteral("README  .TXT")));
    b.Browse().close();

    const QString listing = Oracle(image);
    for (const char* path :
         {"::/Tree/Long file name.txt", "::/Tree/INNER/DEEP.BIN", "::/Tree/README.TXT", "::/New folder"})
      QVERIFY2(listing.contains(QString::fromUtf8(path)), qPrintable(listing));
    QVERIFY2(!listing.contains(QStringLiteral("::/README.TXT")), qPrintable(listing));
  }

  void newBlankImageFromAFolder() {
    QVERIFY(Write("from/DOCS/MEMO.TXT", "memo\n"));
    QVERIFY(Write("from/TOP.TXT", "top\n"));
    kdlwtest::ScriptedDialogs dialogs;
    kdlw::AppContext context(dialogs);
    kdlw::TNewImageForm form(context, dir_.path());
    form.FileName()->setText(QStringLiteral("blank"));
    form.MediaType()->setCurrentIndex(5);
    form.VolumeLabel()->setText(QStringLiteral("new disk"));
    form.LabelLine()->setText(QStringLiteral("made in the window"));
    form.FromFolder()->setText(Path("from"));
    form.btnGoClick();
    QCOMPARE(form.Written(), Path("blank.KDL"));
    QVERIFY(context.work.image.listChanged);
    const QString labels = Run(QStringLiteral(KDL_BINARY), {"labels", Path("blank.KDL")});
    QVERIFY2(labels.contains(QStringLiteral("2D (360K)")), qPrintable(labels));
    QVERIFY2(labels.contains(QStringLiteral("NEW DISK")), qPrintable(labels));
    QVERIFY2(labels.contains(QStringLiteral("made in the window")), qPrintable(labels));
    const QString listing = Oracle(Path("blank.KDL"));
    QVERIFY2(listing.contains(QStringLiteral("::/DOCS/MEMO.TXT")) &&
                 listing.contains(QStringLiteral("::/TOP.TXT")),
             qPrintable(listing));

    // An existing file is replaced only after a Yes; No leaves it and keeps the dialog open.
    const QByteArray before = [&] {
      QFile f(Path("blank.KDL"));
      f.open(QIODevice::ReadOnly);
      return f.readAll();
    }();
    kdlw::TNewImageForm again(context, dir_.path());
    again.FileName()->setText(Path("blank.KDL"));
    again.btnGoClick();
    QVERIFY(again.Written().isEmpty());
    QVERIFY(dialogs.records.back().text.contains(QStringLiteral("上書きしますか？")));
    QFile f(Path("blank.KDL"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);
  }
};

QTEST_MAIN(EditTest)
#include "kdlw_edit_test.moc"
