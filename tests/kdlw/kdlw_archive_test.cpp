// The archive window and the archive dialog over disk-image files acting as drives: building an archive
// through the dialogs, listing, browsing, exporting, labels, copy all, restore all with a skip, a cancelled
// addition, the main window's archive commands with the real windows behind them, and what is said about a
// file that is no archive or a damaged one.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <optional>

#include "archive/archive.h"
#include "common/sjis.h"
#include "image_fixture.h"
#include "kdlw/app/main_form.h"
#include "kdlw/archive/archive_windows.h"
#include "kdlw/archive/kdz_form.h"
#include "kdlw/archive/kzi_form.h"
#include "kdlw/browse/copy_form.h"
#include "kdlw/browse/image_windows.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/system_menu.h"
#include "kdlw/image/kdi_form.h"
#include "samples.h"
#include "scripted_dialogs.h"

using kdlwtest::ReadBytes;
using kdlwtest::WriteBytes;

namespace {

// Runs the next scripted step each time `window` is shown; a window shown with no step left is closed, so
// that a test that goes wrong ends instead of waiting for a user.
class OnEachShow : public QObject {
 public:
  using Step = std::function<void()>;
  OnEachShow(QWidget* window, std::deque<Step> steps) : window_(window), steps_(std::move(steps)) {
    window_->installEventFilter(this);
  }
  ~OnEachShow() override { window_->removeEventFilter(this); }
  int shown = 0;
  size_t Left() const { return steps_.size(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show) {
      ++shown;
      Step step = steps_.empty() ? Step([w = window_] { w->close(); }) : steps_.front();
      if (!steps_.empty()) steps_.pop_front();
      // Queued: the step may open further modal windows, which must not run inside this show.
      QTimer::singleShot(0, window_, step);
    }
    return false;
  }

 private:
  QWidget* window_;
  std::deque<Step> steps_;
};

struct Bench {
  explicit Bench(const QString& folder) {
    context.mainFolder = [folder] { return folder; };
    images.Install();
    archives.Install();
  }
  kdl::ImageWork& Work() { return context.work.image; }
  kdlw::TKDZForm& Window() { return archives.Archive(); }
  kdlw::TKZIForm& Dialog() { return archives.ArchiveDialog(); }
  kdlw::TKDIForm& ImageDialog() { return images.ImageDialog(); }
  template <typename T>
  T* In(QWidget* window, const char* name) {
    return window->findChild<T*>(name);
  }
  // The image dialog's steps: read the floppy in the drive file, or skip / cancel.
  OnEachShow::Step Drive(const QString& drive) {
    return [this, drive] {
      In<QComboBox>(&ImageDialog(), "cbDrive")->setEditText(drive);
      ImageDialog().btnGoClick();
    };
  }
  OnEachShow::Step Cancel() {
    return [this] { ImageDialog().btnCancelClick(); };
  }
  bool OpenWindow(const QString& archive) {
    context.work.archive.path = archive.toStdString();
    if (!Window().Open()) return false;
    Window().show();
    return true;
  }
  QStringList Lines() {
    QStringList lines;
    for (int i = 0; i < Window().ListBox1()->count(); ++i) lines << Window().ListBox1()->item(i)->text();
    return lines;
  }

  kdlwtest::ScriptedDialogs dialogs;
  kdlw::AppContext context{dialogs};
  kdlw::ImageWindows images{context, kdl::DriveSettings{}};
  kdlw::ArchiveWindows archives{context, images};
};

// The archive's header and entry names, read with the core.
struct Contents {
  int count = -1;
  QStringList names;
  QStringList labels;
};

Contents ReadArchive(const QString& path) {
  kdl::SilentPrompter prompter;
  kdl::ImageWork work;
  work.prompter = &prompter;
  kdl::ArchiveState archive(work);
  Contents c;
  if (kdl::OpenArchive(archive, path.toStdString()) < 0) return c;
  c.count = archive.header.count;
  for (int i = 0; i < kdl::kArchiveLabelCount; ++i)
    c.labels << QString::fromStdString(kdl::SjisToUtf8(archive.header.LabelText(i)));
  kdl::RewindArchive(archive);
  while (kdl::ReadEntry(archive) == 1) {
    c.names << QString::fromStdString(archive.entry.NameText());
    kdl::SkipImage(archive);
  }
  kdl::CloseArchive(archive);
  return c;
}

// The output of a `kdl` run, or nothing when it failed.
std::optional<QByteArray> RunKdl(const QStringList& args) {
  QProcess kdl;
  kdl.start(QStringLiteral(KDL_BINARY), args);
  if (!kdl.waitForFinished(30000) || kdl.exitStatus() != QProcess::NormalExit || kdl.exitCode() != 0) {
    qWarning() << "kdl" << args << "failed:" << kdl.exitCode() << kdl.readAllStandardError();
    return std::nullopt;
  }
  return kdl.readAllStandardOutput();
}

}  // namespace

class ArchiveTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::vector<std::vector<uint8_t>> disks_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }
  // A fresh copy of the archive built in initTestCase.
  QString CopyOf(const QString& name) {
    QFile::remove(Path(name));
    return QFile::copy(Path("SET.KDZ"), Path(name)) ? Path(name) : QString();
  }

 private slots:
  // Three floppies and a raw image file go into a new archive through the dialogs; the fifth round is
  // cancelled and ends the run.
  void initTestCase() {
    QVERIFY(dir_.isValid());
    disks_ = {kdlwtest::MultiLevelDisk(), kdlwtest::FlatDisk(2), kdlwtest::FlatDisk(4),
              kdlwtest::FlatDisk(5)};
    for (size_t i = 0; i < disks_.size(); ++i)
      QVERIFY(WriteBytes(Path(QString("drive%1.img").arg(i)), disks_[i]));

    Bench b(dir_.path());
    b.Work().dialogMode = kdl::kModeCreate;
    b.Work().openCloseFlags = kdl::kCloseArchiveAfter | kdl::kCreateArchive;
    b.context.work.archive.path.clear();
    b.Dialog().Prepare();
    QCOMPARE(b.Dialog().windowTitle(), QStringLiteral("カドローン（ＫＤＺ）作成・更新"));
    QVERIFY(!b.In<QLineEdit>(&b.Dialog(), "eFName")->isReadOnly());
    QVERIFY(b.In<QPushButton>(&b.Dialog(), "btnRef")->isEnabled());
    b.In<QLineEdit>(&b.Dialog(), "eFName")->setText("SET");
    b.In<QLineEdit>(&b.Dialog(), "eLabel1")->setText(QStringLiteral("保存セット"));
    b.In<QLineEdit>(&b.Dialog(), "eLabel2")->setText("second");
    bool refusedClose = false;
    QString cancelCaption;
    QStringList progress;
    auto* status = b.In<QStatusBar>(&b.Dialog(), "sbStatus");
    OnEachShow script(&b.ImageDialog(), {[&] {
                                           // While a run goes on the archive dialog stays, whatever closes
                                           // it.
                                           refusedClose = !b.Dialog().close() && b.Dialog().isVisible();
                                           cancelCaption =
                                               b.In<QPushButton>(&b.Dialog(), "btnCancel")->text();
                                           progress << status->currentMessage();
                                           b.Drive(Path("drive0.img"))();
                                         },
                                         [&] {
                                           progress << status->currentMessage();
                                           b.Drive(Path("drive1.img"))();
                                         },
                                         b.Drive(Path("drive2.img")),
                                         [&] {
                                           b.dialogs.files = {Path("drive3.img")};
                                           b.ImageDialog().btnRefClick();
                                           b.In<QLineEdit>(&b.ImageDialog(), "eLabel1")->setText("from raw");
                                           b.ImageDialog().btnGoClick();
                                         },
                                         b.Cancel()});
    b.Dialog().show();
    QVERIFY(QTest::qWaitForWindowExposed(&b.Dialog()));
    // The status bar shows, along the dialog's foot, in a dialog at least of the design's size.
    QVERIFY(status->isVisible());
    QVERIFY(status->height() > 0);
    QCOMPARE(status->geometry().bottom(), b.Dialog().height() - 1);
    QVERIFY(b.Dialog().width() >= 474 && b.Dialog().height() >= 199);
    b.Dialog().btnGoClick();
    QCOMPARE(script.shown, 5);
    QVERIFY(refusedClose);
    QCOMPARE(cancelCaption, QStringLiteral("中断"));
    // It shows the run's progress: the image each round works on.
    QCOMPARE(progress,
             QStringList({QStringLiteral("処理中　KDL:DISK1"), QStringLiteral("処理中　KDL:DISK2")}));
    QVERIFY(!b.Dialog().isVisible());
    QVERIFY(!b.Dialog().Busy());
    // A bare name gets ".KDZ" and the main window's folder.
    QCOMPARE(b.In<QLineEdit>(&b.Dialog(), "eFName")->text(), Path("SET.KDZ"));
    QVERIFY(b.Work().listChanged);
    QVERIFY(!b.context.work.archive.IsOpen());
    const Contents c = ReadArchive(Path("SET.KDZ"));
    QCOMPARE(c.count, 4);
    QCOMPARE(c.names, QStringList({"DISK1", "DISK2", "DISK3", "DISK4"}));
    QCOMPARE(c.labels, QStringList({QStringLiteral("保存セット"), "second"}));
  }

  void aFileThatIsNoArchiveOrADamagedOneIsSaidSo() {
    QVERIFY(kdlwtest::WriteFileBytes(Path("FAKE.KDZ"), "this is text, not an archive\n"));
    Bench b(dir_.path());
    b.context.work.archive.path = Path("FAKE.KDZ").toStdString();
    QVERIFY(!b.Window().Run());
    QVERIFY(!b.Window().isVisible());
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("KDZ Form"));
    QCOMPARE(b.dialogs.records[0].text, Path("FAKE.KDZ") + QStringLiteral(" はＫＤＺファイルではありません"));
    QCOMPARE(b.dialogs.records[0].icon, kdl::Icon::kStop);
    // The archive dialog says the same and does not open on it.
    b.Work().dialogMode = kdl::kModeRestoreWithSkip;
    b.Work().openCloseFlags = kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter;
    QVERIFY(!kdlwtest::DuringModal([&] { b.Dialog().Run(); }, [](QWidget*) {}));
    QCOMPARE(b.dialogs.records.size(), size_t{2});
    QCOMPARE(b.dialogs.records[1].text, b.dialogs.records[0].text);
    // A file that cannot be opened at all is told once, by the archive code.
    b.context.work.archive.path = Path("MISSING.KDZ").toStdString();
    QVERIFY(!b.Window().Run());
    QCOMPARE(b.dialogs.records.size(), size_t{3});
    QVERIFY(!b.dialogs.records[2].text.contains(QStringLiteral("ＫＤＺファイルではありません")));

    // A damaged archive names the damaged entry and lists the images before it.
    const QString cut = CopyOf("cut.KDZ");
    QFile file(cut);
    // The last image loses its end (and the terminator after it).
    QVERIFY(file.resize(file.size() - 100));
    b.dialogs.records.clear();
    QVERIFY(b.OpenWindow(cut));
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QVERIFY2(b.dialogs.records[0].text.contains(QStringLiteral("4 番目のエントリーが正しくありません")),
             qPrintable(b.dialogs.records[0].text));
    QCOMPARE(b.Lines().size(), 3);
    b.Window().close();
  }

  void theListMatchesKdlListAndSelectBrowsesWithoutRelisting() {
    Bench b(dir_.path());
    QVERIFY(b.OpenWindow(Path("SET.KDZ")));
    QCOMPARE(b.Window().windowTitle(), Path("SET.KDZ"));
    // The 80 columns line up only when every half-width character is equally wide.
    const QFontMetrics metrics(b.Window().ListBox1()->font());
    QCOMPARE(metrics.horizontalAdvance(QLatin1Char('i')), metrics.horizontalAdvance(QLatin1Char('M')));
    const QStringList expected =
        QString::fromUtf8(RunKdl({"list", Path("SET.KDZ")}).value_or("")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(expected.size(), 4);
    QCOMPARE(b.Lines(), expected);
    QVERIFY(b.Lines()[3].contains("from raw"));

    // No line selected: Select and Export do nothing.
    b.Window().sbSelClick();
    b.Window().sbKDLClick();
    QVERIFY(b.dialogs.records.empty());

    b.Window().ListBox1()->setCurrentRow(1);
    QListWidgetItem* before = b.Window().ListBox1()->item(1);
    QStringList browsed;
    bool archiveHidden = false;
    kdlw::TKDLForm& browse = b.images.Browse();
    OnEachShow script(&browse, {[&] {
      archiveHidden = !b.Window().isVisible();
      for (const auto& item : browse.Items()) browsed << QString::fromStdString(item.caption);
      browse.close();
    }});
    QTest::keyClick(kdlwtest::KeyTarget(&b.Window()), Qt::Key_S);
    QCOMPARE(script.shown, 1);
    QVERIFY(archiveHidden);
    QVERIFY(browsed.join(' ').contains("ONLY"));
    QCOMPARE(browse.windowTitle(), QStringLiteral("DISK2"));
    // Back as it was: the archive open, the same list items, the same selection.
    QVERIFY(b.Window().isVisible());
    QVERIFY(b.context.work.archive.IsOpen());
    QCOMPARE(b.Window().ListBox1()->item(1), before);
    QCOMPARE(b.Window().ListBox1()->currentRow(), 1);
    QTest::keyClick(kdlwtest::KeyTarget(&b.Window()), Qt::Key_E);
    QVERIFY(!b.Window().isVisible());
    QVERIFY(!b.context.work.archive.IsOpen());
    QCOMPARE(b.context.work.archive.baseOffset(), 0);
  }

  void exportWritesWhatKdlExtractWritesAndAsksBeforeReplacing() {
    Bench b(dir_.path());
    QVERIFY(b.OpenWindow(Path("SET.KDZ")));
    QVERIFY(RunKdl({"extract", Path("SET.KDZ"), "3", Path("ref3.KDL")}).has_value());
    b.Window().ListBox1()->setCurrentRow(2);
    b.dialogs.files = {Path("out3")};
    QTest::keyClick(kdlwtest::KeyTarget(&b.Window()), Qt::Key_X);
    QCOMPARE(b.dialogs.records.size(), size_t{2});
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("カドローン抽出"));
    QCOMPARE(b.dialogs.records[0].text, dir_.path());
    QCOMPARE(b.dialogs.records[1].text, QStringLiteral("抽出完了：KDL %1 ").arg(Path("out3.KDL")));
    QVERIFY(ReadBytes(Path("out3.KDL")) == ReadBytes(Path("ref3.KDL")));
    QVERIFY(b.Work().listChanged);

    // An existing file is replaced only after Yes.
    QVERIFY(WriteBytes(Path("out3.KDL"), {1, 2, 3}));
    b.dialogs.records.clear();
    b.dialogs.files = {Path("out3.KDL")};
    b.Window().sbKDLClick();
    QCOMPARE(b.dialogs.records.size(), size_t{2});
    QCOMPARE(b.dialogs.records[1].text,
             QStringLiteral("KDL %1 は存在します。上書きしますか？(Y/N):").arg(Path("out3.KDL")));
    QVERIFY(ReadBytes(Path("out3.KDL")) == std::vector<uint8_t>({1, 2, 3}));
    // The extension counts in any case: nothing is added to a lower-case one.
    b.dialogs.files = {Path("lower.kdl")};
    b.Window().sbKDLClick();
    QVERIFY(ReadBytes(Path("lower.kdl")) == ReadBytes(Path("ref3.KDL")));
    QVERIFY(!QFileInfo::exists(Path("lower.kdl.KDL")));
    b.dialogs.files = {Path("out3.KDL")};
    b.dialogs.answers = {kdl::Answer::kYes};
    b.Window().sbKDLClick();
    QVERIFY(ReadBytes(Path("out3.KDL")) == ReadBytes(Path("ref3.KDL")));
    b.Window().close();
  }

  void labelsOfAnImageAndOfTheArchive() {
    const QString path = CopyOf("labels.KDZ");
    Bench b(dir_.path());
    QVERIFY(b.OpenWindow(path));
    b.Window().ListBox1()->setCurrentRow(1);
    OnEachShow image(&b.ImageDialog(), {[&] {
      b.In<QLineEdit>(&b.ImageDialog(), "eLabel1")->setText(QStringLiteral("新しいラベル"));
      b.dialogs.answers = {kdl::Answer::kYes};
      b.ImageDialog().btnGoClick();
    }});
    b.Window().sbLabelClick();
    QCOMPARE(image.shown, 1);
    QVERIFY(b.Lines()[1].contains(QStringLiteral("新しいラベル")));
    QCOMPARE(b.Window().ListBox1()->currentRow(), 1);
    QCOMPARE(ReadArchive(path).count, 4);

    // The archive's own lines: OK without a change asks nothing and writes nothing.
    b.Window().ListBox1()->clearSelection();
    std::vector<uint8_t> before = ReadBytes(path);
    b.dialogs.records.clear();
    OnEachShow dialog(&b.Dialog(), {[&] {
                                      QCOMPARE(b.Dialog().windowTitle(),
                                               QStringLiteral("カドローン（ＫＤＺ）ラベル表示"));
                                      QVERIFY(!b.In<QPushButton>(&b.Dialog(), "btnCancel")->isEnabled());
                                      QVERIFY(!b.In<QPushButton>(&b.Dialog(), "btnRef")->isEnabled());
                                      b.Dialog().btnGoClick();
                                    },
                                    [&] {
                                      b.In<QLineEdit>(&b.Dialog(), "eLabel2")->setText("changed   ");
                                      b.dialogs.answers = {kdl::Answer::kYes};
                                      b.Dialog().btnGoClick();
                                    }});
    b.Window().sbLabelClick();
    QVERIFY(b.dialogs.records.empty());
    QVERIFY(ReadBytes(path) == before);
    QCOMPARE(b.Work().dialogResult, 0);
    b.Window().sbLabelClick();
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("ＫＤＺ　Ｆｏｒｍ"));
    QCOMPARE(b.Work().dialogResult, 1);
    QCOMPARE(ReadArchive(path).labels, QStringList({QStringLiteral("保存セット"), "changed"}));
    b.Window().close();
  }

  void readOnlyArchiveLabelsCannotBeEdited() {
    const QString path = CopyOf("readonly.KDZ");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    if (QFileInfo(path).isWritable()) QSKIP("running with rights that ignore file permissions");
    Bench b(dir_.path());
    b.Work().dialogMode = kdl::kModeLabels;
    b.Work().openCloseFlags = kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter;
    b.context.work.archive.path = path.toStdString();
    b.Dialog().Prepare();
    QCOMPARE(b.In<QLineEdit>(&b.Dialog(), "eLabel1")->text(), QStringLiteral("保存セット"));
    QVERIFY(b.In<QLineEdit>(&b.Dialog(), "eLabel1")->isReadOnly());
    QVERIFY(b.In<QLineEdit>(&b.Dialog(), "eFName")->isReadOnly());
  }

  void copyAllPutsEveryImageInItsFolder() {
    Bench b(dir_.path());
    QVERIFY(b.OpenWindow(Path("SET.KDZ")));
    QVERIFY(QDir().mkpath(Path("copied")));
    kdlw::TCopyForm& copy = b.images.Copy();
    OnEachShow script(&copy, {[&] {
      b.In<QLineEdit>(&copy, "eCopyDir")->setText(Path("copied"));
      b.In<QCheckBox>(&copy, "cbDirectory")->setChecked(true);
      copy.btnGoClick();
    }});
    b.Window().sbCopyClick();
    QCOMPARE(script.shown, 1);
    for (const char* name : {"DISK1", "DISK2", "DISK3", "DISK4"})
      QVERIFY2(QDir(Path("copied")).exists(name), name);
    QVERIFY(ReadBytes(Path("copied/DISK1/README.TXT")) == kdlwtest::ReadmeBytes());
    const std::vector<uint8_t> only = ReadBytes(Path("copied/DISK4/ONLY.TXT"));
    QCOMPARE(std::string(only.begin(), only.end()), std::string("the only file\n"));
    // The archive stays open for the window.
    QVERIFY(b.context.work.archive.IsOpen());
    b.Window().close();
  }

  void restoreAllGoesOnAfterASkip() {
    std::vector<QString> targets;
    for (size_t i = 0; i < disks_.size(); ++i) {
      targets.push_back(Path(QString("target%1.img").arg(i)));
      QVERIFY(WriteBytes(targets.back(), kdlwtest::BlankDisk(i == 0 ? 3 : int(i == 1 ? 2 : i + 2))));
    }
    const std::vector<uint8_t> untouched = ReadBytes(targets[1]);
    Bench b(dir_.path());
    QVERIFY(b.OpenWindow(Path("SET.KDZ")));
    OnEachShow dialog(&b.Dialog(), {[&] {
      QCOMPARE(b.Dialog().windowTitle(), QStringLiteral("カドローン（ＫＤＺ）ＦＤ再生"));
      b.Dialog().btnGoClick();
    }});
    OnEachShow image(&b.ImageDialog(),
                     {b.Drive(targets[0]), b.Cancel(), b.Drive(targets[2]), b.Drive(targets[3])});
    QTest::keyClick(kdlwtest::KeyTarget(&b.Window()), Qt::Key_R);
    QCOMPARE(dialog.shown, 1);
    QCOMPARE(image.shown, 4);
    QVERIFY(ReadBytes(targets[0]) == disks_[0]);
    QVERIFY(ReadBytes(targets[1]) == untouched);
    QVERIFY(ReadBytes(targets[2]) == disks_[2]);
    QVERIFY(ReadBytes(targets[3]) == disks_[3]);
    QVERIFY(b.Window().isVisible());
    b.Window().close();
  }

  void aFailedRestoreStopsTheRun() {
    // The first target has another media type: the run stops there and never asks for the second.
    QVERIFY(WriteBytes(Path("wrong.img"), kdlwtest::BlankDisk(2)));
    Bench b(dir_.path());
    QVERIFY(b.OpenWindow(Path("SET.KDZ")));
    OnEachShow dialog(&b.Dialog(), {[&] { b.Dialog().btnGoClick(); }});
    OnEachShow image(&b.ImageDialog(), {b.Drive(Path("wrong.img"))});
    b.Window().sbRestoreClick();
    QCOMPARE(image.shown, 1);
    QCOMPARE(image.Left(), size_t{0});
    b.Window().close();
  }

  void aCancelledAdditionLeavesTheArchiveIntact() {
    const QString path = CopyOf("update.KDZ");
    const std::vector<uint8_t> original = ReadBytes(path);
    Bench b(dir_.path());
    b.Work().dialogMode = kdl::kModeCreate;
    b.Work().openCloseFlags = kdl::kOpenArchiveFirst | kdl::kCloseArchiveAfter;
    b.context.work.archive.path = path.toStdString();
    b.Dialog().Prepare();
    // An existing archive: its labels shown read-only, no browsing for another name.
    QCOMPARE(b.In<QLineEdit>(&b.Dialog(), "eLabel2")->text(), QStringLiteral("second"));
    QVERIFY(b.In<QLineEdit>(&b.Dialog(), "eLabel2")->isReadOnly());
    QVERIFY(!b.In<QPushButton>(&b.Dialog(), "btnRef")->isEnabled());
    QCOMPARE(b.In<QLabel>(&b.Dialog(), "lblStatus")->text(), QStringLiteral("ＫＤＬ数：  4"));
    // The second addition is stopped in the middle of reading the floppy.
    OnEachShow image(&b.ImageDialog(), {b.Drive(Path("drive1.img")), [&] {
                                          QTimer::singleShot(0, &b.ImageDialog(), [&] {
                                            b.In<QPushButton>(&b.ImageDialog(), "btnCancel")->click();
                                          });
                                          b.dialogs.answers = {kdl::Answer::kYes};
                                          b.Drive(Path("drive0.img"))();
                                        }});
    b.Dialog().show();
    b.Dialog().btnGoClick();
    QCOMPARE(image.shown, 2);
    const Contents c = ReadArchive(path);
    QCOMPARE(c.count, 5);
    QCOMPARE(c.names.last(), QStringLiteral("DISK5"));
    // Everything before the new image is as it was, but for the count and the old terminator.
    const std::vector<uint8_t> now = ReadBytes(path);
    QVERIFY(now.size() > original.size());
    QVERIFY(std::equal(original.begin() + 96, original.end() - 32, now.begin() + 96));
    // The window lists the five images; the new one browses.
    QVERIFY(b.OpenWindow(path));
    QCOMPARE(b.Lines().size(), 5);
    b.Window().close();
  }

  void mainWindowOpensArchivesAndStartsNewOnes() {
    QTemporaryDir folder;
    QVERIFY(QFile::copy(Path("SET.KDZ"), QDir(folder.path()).filePath("SET.KDZ")));
    QVERIFY(WriteBytes(QDir(folder.path()).filePath("ONE.KDL"), kdlwtest::KdlOf(disks_[1])));
    QVERIFY(WriteBytes(QDir(folder.path()).filePath("notes.txt"), {'x'}));
    Bench b(folder.path());
    kdlw::MainFormOptions options;
    options.settingsPath = QDir(folder.path()).filePath("KDLW.INI");
    options.defaultFolder = folder.path();
    options.shiftHeld = [] { return true; };
    kdlw::TMainForm form(b.context, options);
    form.show();
    auto select = [&form](const QString& name) {
      kdlw::TFileView* list = form.FileView1();
      list->selectionModel()->clearSelection();
      for (int r = 0; r < list->Model().rowCount(); ++r) {
        if (list->Model().Row(r).name == name)
          list->selectionModel()->select(list->Model().index(r, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    };
    select("SET.KDZ");
    int lines = 0;
    OnEachShow window(&b.Window(), {[&] {
      lines = b.Window().ListBox1()->count();
      b.Window().close();
    }});
    form.Open();
    QCOMPARE(lines, 4);

    // Z with an image, or with a file of another kind, selected starts a new archive.
    for (const QString& name : {QStringLiteral("ONE.KDL"), QStringLiteral("notes.txt")}) {
      select(name);
      QString shownName;
      bool editable = false;
      OnEachShow dialog(&b.Dialog(), {[&] {
        shownName = b.In<QLineEdit>(&b.Dialog(), "eFName")->text();
        editable = !b.In<QLineEdit>(&b.Dialog(), "eFName")->isReadOnly();
        b.Dialog().btnCancelClick();
      }});
      QTest::keyClick(kdlwtest::KeyTarget(&form), Qt::Key_Z);
      QCOMPARE(dialog.shown, 1);
      QCOMPARE(shownName, QString());
      QVERIFY(editable);
      QCOMPARE(b.Work().openCloseFlags, kdl::kCloseArchiveAfter | kdl::kCreateArchive);
    }
    form.close();
  }
};

QTEST_MAIN(ArchiveTest)
#include "kdlw_archive_test.moc"
