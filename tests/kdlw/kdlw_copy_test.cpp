// The copy dialog: the target checks, the four overwrite policies, the directories choice, the three job
// kinds, cancelling in the middle, Enter, and the settings it keeps between uses.
#include <utime.h>

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include "image_fixture.h"
#include "kdlw/browse/copy_form.h"
#include "kdlw/browse/image_windows.h"
#include "kdlw/browse/kdl_form.h"
#include "samples.h"
#include "scripted_dialogs.h"

using kdlwtest::ReadBytes;
using kdlwtest::WriteBytes;

namespace {

struct Bench {
  explicit Bench(const QString& image) {
    windows.Install();
    context.work.image.currentImagePath = image.toStdString();
  }
  kdlw::TCopyForm& Copy() { return windows.Copy(); }
  // Opens the image in the browse window, selects `names` and prepares a copy of them (kind 0), or of the
  // whole image when none are given (kind 1).
  bool PrepareFromBrowse(const QStringList& names) {
    kdlw::TKDLForm& browse = windows.Browse();
    if (!browse.Image().IsOpen() && !browse.Open()) return false;
    std::vector<kdl::SelectionItem> items;
    for (const kdl::ListItem& item : browse.Items())
      items.push_back({item.caption, item.typeText, names.contains(QString::fromStdString(item.caption))});
    context.work.image.dialogMode = names.isEmpty() ? kdlw::kCopyWholeImage : kdlw::kCopySelection;
    context.work.image.openCloseFlags = 0;
    Copy().SetSelection(&browse.CurrentTable(), std::move(items));
    Copy().Prepare();
    Copy().show();
    return true;
  }
  void Run(const QString& target, int policy, bool directories) {
    Copy().findChild<QLineEdit*>("eCopyDir")->setText(target);
    Copy().findChild<QRadioButton*>(QStringLiteral("rbName%1").arg(policy + 1))->setChecked(true);
    Copy().findChild<QCheckBox*>("cbDirectory")->setChecked(directories);
    Copy().btnGoClick();
  }

  kdlwtest::ScriptedDialogs dialogs;
  kdlw::AppContext context{dialogs};
  kdlw::ImageWindows windows{context, kdl::DriveSettings{}};
};

// Sets a file's modification time to a local date-time.
bool Touch(const QString& path, int year, int month, int day, int hour, int minute) {
  const QDateTime when(QDate(year, month, day), QTime(hour, minute, 30));
  struct utimbuf times {};
  times.actime = times.modtime = static_cast<time_t>(when.toSecsSinceEpoch());
  return utime(path.toLocal8Bit().constData(), &times) == 0;
}

std::vector<uint8_t> Bytes(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

QStringList Tree(const QString& folder) {
  QStringList files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
  while (it.hasNext()) files << QDir(folder).relativeFilePath(it.next());
  files.sort();
  return files;
}

}  // namespace

class CopyTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString image_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }
  QString Fresh(const QString& name) const {
    QDir(Path(name)).removeRecursively();
    QDir().mkpath(Path(name));
    return Path(name);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = Path("MULTI.KDL");
    QVERIFY(WriteBytes(image_, kdlwtest::KdlOf(kdlwtest::MultiLevelDisk())));
  }

  void wholeImageRecreatesTheTree() {
    Bench b(image_);
    QVERIFY(b.PrepareFromBrowse({}));
    QCOMPARE(b.Copy().windowTitle(), QStringLiteral("FILE Copy : ") + image_);
    const QString out = Fresh("whole");
    b.Run(out, 0, true);
    QVERIFY(b.dialogs.records.empty());
    QVERIFY(!b.Copy().isVisible());
    QCOMPARE(Tree(out),
             QStringList({"BIG.BIN", "DOCS/MEMO.TXT", "DOCS/SUB/DEEP.TXT", "DOCS/X.TXT", "EMPTY.TXT",
                          "GAMES/X.TXT", "NOEXT", "OLD.TXT", "README.TXT", "SECRET.DAT", "a_b/INSIDE.TXT",
                          "lower.txt", QStringLiteral("長い名前のファイル.txt")}));
    QVERIFY(ReadBytes(out + "/README.TXT") == kdlwtest::ReadmeBytes());
    QCOMPARE(QFileInfo(out + "/README.TXT").lastModified(), QDateTime(QDate(1998, 7, 23), QTime(12, 34)));
    QCOMPARE(QFileInfo(out + "/EMPTY.TXT").size(), 0);
    QCOMPARE(QFileInfo(out + "/EMPTY.TXT").lastModified(), QDateTime(QDate(1998, 2, 2), QTime(2, 2)));
    QVERIFY(!b.Copy().Busy());
    // The browse window's image stays open for the next command.
    QVERIFY(b.windows.Browse().Image().IsOpen());
  }

  void selectionCopiesOnlyTheSelectedItems() {
    Bench b(image_);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT", "GAMES   .   ", "SAMPLE D.ISK"}));
    const QString out = Fresh("selection");
    b.Run(out, 0, true);
    QCOMPARE(Tree(out), QStringList({"GAMES/X.TXT", "README.TXT"}));
  }

  void policiesDecideAboutExistingFiles() {
    const QString out = Fresh("policies");
    auto prepare = [&](const char* content, int minute) {
      QVERIFY(WriteBytes(out + "/README.TXT", Bytes(content)));
      QVERIFY(Touch(out + "/README.TXT", 1998, 7, 23, 12, minute));
    };
    auto copied = [&] { return ReadBytes(out + "/README.TXT") == kdlwtest::ReadmeBytes(); };
    Bench b(image_);
    // Newer: an older file is replaced, one of the same minute is not.
    prepare("older", 33);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.Run(out, 0, true);
    QVERIFY(copied());
    prepare("same minute", 34);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.Run(out, 0, true);
    QVERIFY(!copied());
    // All: replaced whatever its date.
    prepare("newer", 59);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.Run(out, 1, true);
    QVERIFY(copied());
    // Skip: never replaced.
    prepare("older", 0);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.Run(out, 3, true);
    QVERIFY(!copied());
    QVERIFY(b.dialogs.records.empty());
    // Ask: the question says when the existing file is older; No keeps it, Yes replaces it.
    prepare("newer", 59);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.dialogs.answers = {kdl::Answer::kNo};
    b.Run(out, 2, true);
    QVERIFY(!copied());
    prepare("older", 0);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.dialogs.answers = {kdl::Answer::kYes};
    b.Run(out, 2, true);
    QVERIFY(copied());
    QCOMPARE(b.dialogs.records.size(), size_t{2});
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("FILE Copy"));
    QVERIFY(b.dialogs.records[0].text.startsWith(
        QStringLiteral("ファイル：README.TXT  98-07-23 12:59 はすでに存在します\n")));
    QVERIFY(!b.dialogs.records[0].text.contains(QStringLiteral("古いファイルですが")));
    QVERIFY(b.dialogs.records[1].text.endsWith(QStringLiteral("古いファイルですが 上書きしますか？")));
  }

  void withoutDirectoriesSameNamesMeetThePolicy() {
    Bench b(image_);
    QVERIFY(b.PrepareFromBrowse({"DOCS    .   ", "GAMES   .   "}));
    const QString out = Fresh("flat");
    b.dialogs.answers = {kdl::Answer::kYes};
    b.Run(out, 2, false);
    QCOMPARE(Tree(out), QStringList({"DEEP.TXT", "MEMO.TXT", "X.TXT"}));
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QVERIFY(ReadBytes(out + "/X.TXT") == Bytes("games x, a longer one\n"));
    QVERIFY(b.Copy().Flatten());
  }

  void targetChecks() {
    Bench b(image_);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    b.Run("relative/folder", 0, true);
    b.Run("", 0, true);
    QVERIFY(WriteBytes(Path("plain-file"), Bytes("x")));
    b.Run(Path("plain-file"), 0, true);
    const QString missing = Path("made-on-request");
    QDir(missing).removeRecursively();
    b.Run(missing, 0, true);  // answered No
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(b.Copy().isVisible());
    QCOMPARE(b.dialogs.records.size(), size_t{4});
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(b.dialogs.records[static_cast<size_t>(i)].text, QStringLiteral("ディレクトリ指定エラー"));
      QCOMPARE(b.dialogs.records[static_cast<size_t>(i)].caption, QStringLiteral("Copy"));
    }
    QCOMPARE(b.dialogs.records[3].caption, QStringLiteral("KDZ Copy"));
    QCOMPARE(b.dialogs.records[3].text, missing + QStringLiteral(" は存在しません。作成しますか？"));
    b.dialogs.answers = {kdl::Answer::kYes};
    b.Run(missing, 0, true);
    QCOMPARE(Tree(missing), QStringList({"README.TXT"}));
    QVERIFY(!b.Copy().isVisible());
  }

  void cancelInTheMiddle() {
    Bench b(image_);
    const QString out = Fresh("cancel-yes");
    QVERIFY(b.PrepareFromBrowse({}));
    QTimer::singleShot(0, &b.Copy(), [&] {
      QVERIFY(!b.Copy().close());
      QTest::keyClick(kdlwtest::KeyTarget(&b.Copy()), Qt::Key_Escape);
    });
    b.dialogs.answers = {kdl::Answer::kYes};
    b.Run(out, 0, true);
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.dialogs.records[0].text,
             QStringLiteral("コピー ： ユーザー割り込みがありました\n中断しますか?"));
    QVERIFY(Tree(out).isEmpty());
    QVERIFY(!b.Copy().isVisible());

    const QString all = Fresh("cancel-no");
    QVERIFY(b.PrepareFromBrowse({}));
    QTimer::singleShot(0, &b.Copy(), [&] { b.Copy().btnCancelClick(); });
    b.dialogs.answers = {kdl::Answer::kNo};
    b.Run(all, 0, true);
    QCOMPARE(b.dialogs.records.size(), size_t{2});
    QCOMPARE(Tree(all).size(), 13);
  }

  void theDialogKeepsItsSettings() {
    Bench b(image_);
    QVERIFY(b.PrepareFromBrowse({"NOEXT   .   "}));
    const QString out = Fresh("kept");
    b.Run(out, 3, false);
    QVERIFY(b.PrepareFromBrowse({}));
    QCOMPARE(b.Copy().findChild<QLineEdit*>("eCopyDir")->text(), out);
    QVERIFY(b.Copy().findChild<QRadioButton*>("rbName4")->isChecked());
    QVERIFY(!b.Copy().findChild<QCheckBox*>("cbDirectory")->isChecked());
  }

  void enterRunsTheCopy() {
    Bench b(image_);
    QVERIFY(b.PrepareFromBrowse({"README  .TXT"}));
    QVERIFY(QTest::qWaitForWindowExposed(&b.Copy()));
    QVERIFY(b.Copy().findChild<QPushButton*>("btnGo")->isDefault());
    const QString out = Fresh("enter");
    auto* target = b.Copy().findChild<QLineEdit*>("eCopyDir");
    target->setText(out);
    // From the target's edit, as from any control but the Cancel button.
    QTest::keyClick(target, Qt::Key_Return);
    QCOMPARE(Tree(out), QStringList({"README.TXT"}));
    QVERIFY(!b.Copy().isVisible());

    QVERIFY(b.PrepareFromBrowse({"NOEXT   .   "}));
    auto* cancel = b.Copy().findChild<QPushButton*>("btnCancel");
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Return);
    QVERIFY(!b.Copy().isVisible());
    QCOMPARE(Tree(out), QStringList({"README.TXT"}));
  }

  void wholeImageFromTheMainWindowOpensAndClosesIt() {
    Bench b(image_);
    kdl::ImageWork& work = b.context.work.image;
    work.dialogMode = kdlw::kCopyWholeImage;
    work.openCloseFlags = kdl::kOpenFirst | kdl::kCloseAfter;
    b.Copy().SetSelection(nullptr, {});
    b.Copy().Prepare();
    b.Copy().show();
    const QString out = Fresh("from-main");
    b.Run(out, 0, false);
    // Thirteen files, the two X.TXT landing on one.
    QCOMPARE(Tree(out).size(), 12);
    QVERIFY(!b.windows.Browse().Image().IsOpen());
  }

  void everyImageOfAnArchive() {
    const std::vector<uint8_t> one = kdlwtest::KdlOf(kdlwtest::FlatDisk(2));
    const std::vector<uint8_t> two = kdlwtest::KdlOf(kdlwtest::FlatDisk(3));
    auto q = [](const std::vector<uint8_t>& v) {
      return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
    };
    QVERIFY(kdlwtest::WriteFileBytes(Path("SET.KDZ"), kdlwtest::ArchiveBytes("set", "", {q(one), q(two)})));
    Bench b(image_);
    kdl::ImageWork& work = b.context.work.image;
    b.context.work.archive.path = Path("SET.KDZ").toStdString();
    work.dialogMode = kdlw::kCopyAllImages;
    work.openCloseFlags = kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter;
    b.Copy().Prepare();
    QCOMPARE(b.Copy().windowTitle(), QStringLiteral("FILE Copy : ") + Path("SET.KDZ"));
    b.Copy().show();
    const QString out = Fresh("archive");
    b.Run(out, 0, true);
    QCOMPARE(Tree(out), QStringList({"DISK1/ONLY.TXT", "DISK2/ONLY.TXT"}));
    QVERIFY(b.Copy().findChild<QLabel*>("lblFile")->text().isEmpty());
    QVERIFY(!b.context.work.archive.IsOpen());
    QVERIFY(b.dialogs.records.empty());

    // A file that is not an archive at all is not copied from without a word.
    QVERIFY(kdlwtest::WriteFileBytes(Path("FAKE.KDZ"), "just text, no archive\n"));
    b.context.work.archive.path = Path("FAKE.KDZ").toStdString();
    b.Copy().Prepare();
    b.Copy().show();
    b.Run(Fresh("fake"), 0, true);
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.dialogs.records[0].text, Path("FAKE.KDZ") + QStringLiteral(" はＫＤＺファイルではありません"));
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("KDZ Form"));
  }
};

QTEST_MAIN(CopyTest)
#include "kdlw_copy_test.moc"
