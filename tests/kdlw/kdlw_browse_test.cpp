// The browse window and the viewer on a multi-level image: the tree, the list texts and sort orders, "..",
// opening files with the desktop's program, the commands and keys, where the windows open and where the keys
// go, and the viewer's text and dump, which must be what `kdl view` prints.
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include "image_fixture.h"
#include "kdlw/app/main_form.h"
#include "kdlw/browse/copy_form.h"
#include "kdlw/browse/image_windows.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/browse/view_form.h"
#include "kdlw/common/desktop_opener.h"
#include "kdlw/common/placement.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/components/system_menu.h"
#include "kdlw/image/kdi_form.h"
#include "samples.h"
#include "scripted_dialogs.h"

using kdlwtest::WriteBytes;

namespace {

struct Bench {
  explicit Bench(const QString& image) {
    windows.Install();
    context.work.image.currentImagePath = image.toStdString();
  }
  kdlw::TKDLForm& Browse() { return windows.Browse(); }
  // Opens the image and shows the window (without waiting for it to close).
  bool Open() {
    if (!Browse().Open()) return false;
    Browse().show();
    return true;
  }
  QStringList Column(int column) const {
    QStringList texts;
    for (const kdl::ListItem& item : const_cast<Bench*>(this)->Browse().Items())
      texts << QString::fromStdString(column == 0   ? item.caption
                                      : column == 1 ? item.typeText
                                                    : item.dateText);
    return texts;
  }
  bool Listed(const QString& caption) const { return Column(0).contains(caption); }
  void Select(const QStringList& names) {
    QTreeWidget* list = Browse().ListView1();
    list->clearSelection();
    for (const QString& name : names) {
      for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(0) == name) list->topLevelItem(row)->setSelected(true);
      }
    }
  }

  kdlwtest::ScriptedDialogs dialogs;
  kdlw::AppContext context{dialogs};
  kdlw::ImageWindows windows{context, kdl::DriveSettings{}};
};

QTreeWidgetItem* Node(QTreeWidget* tree, const QStringList& path) {
  QTreeWidgetItem* node = tree->topLevelItem(0);
  for (const QString& name : path) {
    QTreeWidgetItem* next = nullptr;
    for (int i = 0; node != nullptr && i < node->childCount(); ++i) {
      if (node->child(i)->text(0) == name) next = node->child(i);
    }
    node = next;
  }
  return node;
}

QByteArray ToQBytes(const std::vector<uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

QString TypeText(const char* attributes, size_t size) {
  return QStringLiteral("%1%2 Bytes").arg(QLatin1String(attributes)).arg(size, 8);
}

// What `kdl view` prints for a file of an image.
QString KdlView(const QString& image, const QString& path, bool dump) {
  QProcess kdl;
  QStringList args = {"view", image, path};
  if (dump) args << "--dump";
  kdl.start(QStringLiteral(KDL_BINARY), args);
  if (!kdl.waitForFinished(60000) || kdl.exitCode() != 0) return QStringLiteral("<kdl failed>");
  return QString::fromUtf8(kdl.readAllStandardOutput());
}

}  // namespace

class BrowseTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString image_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = Path("MULTI.KDL");
    QVERIFY(WriteBytes(image_, kdlwtest::KdlOf(kdlwtest::MultiLevelDisk(), {"sample"})));
  }

  void treeAndListTexts() {
    Bench b(image_);
    QVERIFY(b.Open());
    QCOMPARE(b.Browse().windowTitle(), image_);
    QTreeWidget* tree = b.Browse().TreeView1();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree->topLevelItem(0);
    QCOMPARE(root->text(0), QStringLiteral("\\"));
    QVERIFY(root->isExpanded());
    QCOMPARE(root->childCount(), 3);
    QVERIFY(Node(tree, {"DOCS", "SUB"}) != nullptr);
    QVERIFY(Node(tree, {"GAMES"}) != nullptr);
    QVERIFY(Node(tree, {"a\\b"}) != nullptr);
    QCOMPARE(tree->currentItem(), root);

    const QStringList captions = b.Column(0), types = b.Column(1), dates = b.Column(2);
    auto row = [&](const QString& caption) { return static_cast<int>(captions.indexOf(caption)); };
    QVERIFY(row("SAMPLE D.ISK") >= 0);
    QCOMPARE(types[row("SAMPLE D.ISK")], QStringLiteral("  [Label]   "));
    QCOMPARE(types[row("README  .TXT")], TypeText("---a", kdlwtest::ReadmeBytes().size()));
    QCOMPARE(dates[row("README  .TXT")], QStringLiteral("98-07-23 12:34"));
    QVERIFY(row("NOEXT   .   ") >= 0);
    QVERIFY(row("lower.txt") >= 0);
    QVERIFY(row(QStringLiteral("長い名前のファイル.txt")) >= 0);
    QCOMPARE(types[row("SECRET  .DAT")], TypeText("hsra", 6));
    QCOMPARE(types[row("DOCS    .   ")], QStringLiteral("  <DIR>     "));
    QCOMPARE(dates[row("OLD     .TXT")], QStringLiteral("03-03-03 03:03"));
    // The list shows the captions exactly and they cannot be edited in place.
    QTreeWidgetItem* first = b.Browse().ListView1()->topLevelItem(0);
    QVERIFY(!(first->flags() & Qt::ItemIsEditable));
  }

  void aRootWithoutDirectoriesIsNotExpanded() {
    QVERIFY(WriteBytes(Path("FLAT.KDL"), kdlwtest::KdlOf(kdlwtest::FlatDisk(2))));
    Bench b(Path("FLAT.KDL"));
    QVERIFY(b.Open());
    QCOMPARE(b.Browse().TreeView1()->topLevelItem(0)->childCount(), 0);
    QVERIFY(!b.Browse().TreeView1()->topLevelItem(0)->isExpanded());
  }

  void sortKeepsTheLabelAndDirectoriesFirst() {
    Bench b(image_);
    QVERIFY(b.Open());
    for (int click = 0; click < 2; ++click) {
      b.Browse().ColumnClick(1);
      const QStringList types = b.Column(1);
      QCOMPARE(types[0], QStringLiteral("  [Label]   "));
      QCOMPARE(types.lastIndexOf(QStringLiteral("  <DIR>     ")), 3);
      // Files follow by their right-aligned size text, ascending on the first click, then descending.
      QStringList sizes;
      for (const QString& type : types.mid(4)) sizes << type.mid(4);
      QStringList sorted = sizes;
      std::sort(sorted.begin(), sorted.end());
      if (click == 1) std::reverse(sorted.begin(), sorted.end());
      QCOMPARE(sizes, sorted);
    }
    // Dates: 80-99 come before 00-79; the first click on another column sorts ascending.
    b.Browse().ColumnClick(2);
    QCOMPARE(b.Column(0).last(), QStringLiteral("OLD     .TXT"));
    b.Browse().ColumnClick(2);
    QCOMPARE(b.Column(0).first(), QStringLiteral("OLD     .TXT"));
    b.Browse().ColumnClick(0);
    QStringList names = b.Column(0);
    QStringList bytewise = names;
    std::sort(bytewise.begin(), bytewise.end(),
              [](const QString& x, const QString& y) { return x.toUtf8() < y.toUtf8(); });
    QCOMPARE(names, bytewise);
    // Listing again starts the signs afresh.
    b.Browse().ListTreeNode(b.Browse().TreeView1()->topLevelItem(0));
    b.Browse().ColumnClick(0);
    QCOMPARE(b.Column(0), bytewise);
  }

  void dotDotListsTheParentAndLeavesTheTreeAlone() {
    Bench b(image_);
    QVERIFY(b.Open());
    QTreeWidgetItem* root = b.Browse().TreeView1()->currentItem();
    b.Select({"DOCS    .   "});
    b.Browse().OpenSelectedItem();
    QVERIFY(b.Listed("MEMO    .TXT"));
    b.Select({"SUB     .   "});
    b.Browse().OpenSelectedItem();
    QVERIFY(b.Listed("DEEP    .TXT"));
    b.Select({"..      .   "});
    b.Browse().OpenSelectedItem();
    QVERIFY(b.Listed("MEMO    .TXT"));
    b.Select({"..      .   "});
    b.Browse().OpenSelectedItem();
    QVERIFY(b.Listed("README  .TXT"));
    QCOMPARE(b.Browse().TreeView1()->currentItem(), root);
  }

  void treeNodesListTheirDirectory() {
    Bench b(image_);
    QVERIFY(b.Open());
    b.Browse().ListTreeNode(Node(b.Browse().TreeView1(), {"DOCS", "SUB"}));
    QCOMPARE(b.Column(0), QStringList({"..      .   ", "DEEP    .TXT"}));
    // A name that holds a backslash is found as one name.
    b.Browse().ListTreeNode(Node(b.Browse().TreeView1(), {"a\\b"}));
    QVERIFY(b.Listed("INSIDE  .TXT"));
  }

  void openingWithTheDesktopKeepsOnlyTheLastCopy() {
    Bench b(image_);
    QStringList opened;
    b.Browse().openUrl = [&](const QUrl& url) {
      opened << url.toLocalFile();
      return true;
    };
    // A folder of copies that a killed run left behind goes when the next copy is made.
    const pid_t child = fork();
    if (child == 0) _exit(0);
    QVERIFY(child > 0 && waitpid(child, nullptr, 0) == child);
    const QString stale = QDir(QDir::tempPath()).filePath(QStringLiteral("kdlw-%1-Ab3dE6").arg(child));
    QVERIFY(QDir().mkpath(stale + "/inner"));
    QVERIFY(b.Open());
    b.Select({"README  .TXT"});
    b.Browse().OpenSelectedItem();
    QCOMPARE(opened.size(), 1);
    QVERIFY(!QFileInfo::exists(stale));
    const QString first = b.Browse().TempFile();
    QVERIFY(QFileInfo(first).dir().dirName().startsWith(
        QStringLiteral("kdlw-%1-").arg(QCoreApplication::applicationPid())));
    QCOMPARE(opened[0], first);
    QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("README.TXT"));
    QVERIFY(kdlwtest::ReadBytes(first) == kdlwtest::ReadmeBytes());
    // The copy lies in a folder of our own, not in a shared one.
    QCOMPARE(QFileInfo(QFileInfo(first).path()).permissions() & (QFile::ReadOther | QFile::WriteOther),
             QFileDevice::Permissions());

    // A read-only file opened twice: the first copy goes before the second is made.
    for (int i = 0; i < 2; ++i) {
      b.Select({"SECRET  .DAT"});
      b.Browse().OpenSelectedItem();
    }
    QCOMPARE(opened.size(), 3);
    QVERIFY(!QFileInfo::exists(first));
    QVERIFY(QFileInfo::exists(b.Browse().TempFile()));
    QVERIFY(b.dialogs.records.empty());
    const QString last = b.Browse().TempFile();
    b.Browse().close();
    QVERIFY(!QFileInfo::exists(last));
    QVERIFY(!b.Browse().Image().IsOpen());
  }

  void aFileWithoutAProgramIsSaidSo() {
    Bench b(image_);
    QVERIFY(b.Open());
    // The desktop's opener fails as xdg-open does when no program takes the file.
    b.Browse().Opener().SetCommand("sh", {"-c", "exit 3", "sh"});
    b.Select({"README  .TXT"});
    b.Browse().OpenSelectedItem();
    QTRY_COMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.dialogs.records[0].text, QStringLiteral("README.TXT を開くプログラムが見つかりません"));
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("KDL Form"));
    // An opener that takes the file (the complete copy) leaves nothing to say.
    b.Browse().Opener().SetCommand("sh", {"-c", "test -s \"$1\"", "sh"});
    b.Browse().OpenSelectedItem();
    QTRY_VERIFY(b.Browse().Opener().findChildren<QProcess*>().isEmpty());
    QCOMPARE(b.dialogs.records.size(), size_t{1});
  }

  void windowsOpenOverTheirOpenerWithTheKeysInTheirList() {
    Bench b(image_);
    QWidget main;
    main.setGeometry(120, 90, 700, 520);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QWidget* browseOwner = nullptr;
    QWidget* viewerOwner = nullptr;
    QWidget* browseFocus = nullptr;
    QWidget* viewerFocus = nullptr;
    QPoint browseCentre, viewerCentre;
    auto viewerReady = [](QWidget* w) { return w->windowTitle().contains(" : "); };
    QVERIFY(kdlwtest::DuringModal([&] { b.Browse().Run(&main); },
                                  [&](QWidget* w) {
                                    browseOwner = kdlw::OwnerWindow(w);
                                    browseCentre = w->geometry().center();
                                    browseFocus = w->focusWidget();
                                    b.Select({"README  .TXT"});
                                    kdlwtest::DuringModal([&] { b.Browse().ViewCommand(); },
                                                          [&](QWidget* v) {
                                                            viewerOwner = kdlw::OwnerWindow(v);
                                                            viewerCentre = v->geometry().center();
                                                            viewerFocus = v->focusWidget();
                                                          },
                                                          viewerReady);
                                  }));
    QCOMPARE(browseOwner, &main);
    QCOMPARE(browseCentre, main.geometry().center());
    QCOMPARE(browseFocus, b.Browse().ListView1());
    // The viewer takes the browse window's place (which steps aside) and belongs to the main window.
    QCOMPARE(viewerOwner, &main);
    QCOMPARE(viewerCentre, browseCentre);
    QCOMPARE(viewerFocus, b.windows.Viewer().findChild<QPlainTextEdit*>("reView"));
    // The window menu is in the menu bar too.
    QCOMPARE(b.Browse().MenuBar1()->actions().front()->text(), QStringLiteral("ウィンドウ(&W)"));
  }

  void nothingOpensWithoutExactlyOneItem() {
    Bench b(image_);
    int opened = 0;
    b.Browse().openUrl = [&](const QUrl&) { return ++opened > 0; };
    QVERIFY(b.Open());
    int windows = 0;
    auto count = [&](QWidget*) { ++windows; };
    b.Select({"README  .TXT", "NOEXT   .   "});
    kdlwtest::DuringModal([&] { b.Browse().OpenSelectedItem(); }, count);
    b.Select({});
    kdlwtest::DuringModal([&] { b.Browse().ViewCommand(); }, count);
    kdlwtest::DuringModal([&] { b.Browse().DumpCommand(); }, count);
    b.Select({"SAMPLE D.ISK"});
    kdlwtest::DuringModal([&] { b.Browse().ViewCommand(); }, count);
    QCOMPARE(windows, 0);
    QCOMPARE(opened, 0);
    QVERIFY(b.Listed("README  .TXT"));
  }

  void viewAndDumpShowWhatKdlViewPrints() {
    Bench b(image_);
    QVERIFY(b.Open());
    kdlw::TViewForm& viewer = b.windows.Viewer();
    const struct {
      const char* caption;
      const char* path;
      bool dump;
    } cases[] = {{"README  .TXT", "/README.TXT", false},
                 {"README  .TXT", "/README.TXT", true},
                 {"BIG     .BIN", "/BIG.BIN", true},
                 {"EMPTY   .TXT", "/EMPTY.TXT", false}};
    for (const auto& c : cases) {
      b.Select({c.caption});
      QString text, title;
      bool browseHidden = false;
      const bool shown = kdlwtest::DuringModal(
          [&] { c.dump ? b.Browse().DumpCommand() : b.Browse().ViewCommand(); },
          [&](QWidget* w) {
            text = w->findChild<QPlainTextEdit*>("reView")->toPlainText();
            title = w->windowTitle();
            browseHidden = !b.Browse().isVisible();
          },
          [&](QWidget* w) { return w == &viewer && !viewer.Busy() && w->windowTitle().contains(" : "); });
      QVERIFY(shown);
      QVERIFY(browseHidden);
      QVERIFY(b.Browse().isVisible());
      QString expected = KdlView(image_, c.path, c.dump);
      if (expected.endsWith('\n')) expected.chop(1);
      QCOMPARE(text, expected);
      QVERIFY2(title.startsWith(QStringLiteral("ViewForm : ファイル : ")), qPrintable(title));
    }
    // Japanese text is shown as such.
    QVERIFY(KdlView(image_, "/README.TXT", false).contains(QStringLiteral("日本語のテキストです。")));
  }

  void viewerScrollsWithControlKeysAndStopsOnRequest() {
    Bench b(image_);
    QVERIFY(b.Open());
    kdlw::TViewForm& viewer = b.windows.Viewer();
    for (const kdl::ListItem& item : b.Browse().Items()) {
      if (item.caption == "BIG     .BIN")
        viewer.SetFile(&b.Browse().CurrentTable(), item.index, kdl::ViewMode::kDump);
    }
    b.context.work.viewerMode = kdlw::kViewerFile;
    viewer.Prepare();
    // Narrow enough for the dump's lines to scroll sideways.
    viewer.resize(300, 300);
    viewer.show();
    viewer.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    // "中断" stops the loading after the line in hand; the lines so far stay.
    QTimer::singleShot(0, &viewer, [&] { viewer.sbCloseClick(); });
    viewer.Fill();
    auto* text = viewer.findChild<QPlainTextEdit*>("reView");
    QVERIFY(text->blockCount() > 0);
    QVERIFY(text->blockCount() < 2500);
    QVERIFY(viewer.isVisible());
    // A stopped view says that it shows only part of the file.
    QVERIFY2(viewer.windowTitle().endsWith(QStringLiteral("（中断・一部のみ表示）")),
             qPrintable(viewer.windowTitle()));
    const QString status = viewer.findChild<QStatusBar*>("sbFile")->currentMessage();
    QCOMPARE(status,
             QStringLiteral("読込を中断しました : %1 行目までを表示しています").arg(text->blockCount()));
    viewer.Fill();
    QCOMPARE(text->blockCount(), 2500);
    QVERIFY(!viewer.windowTitle().contains(QStringLiteral("中断")));

    text->setFocus();
    QScrollBar* vertical = text->verticalScrollBar();
    QCOMPARE(vertical->value(), 0);
    QTest::keyClick(text, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(vertical->value(), 1);
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(vertical->value(), 1 + vertical->pageStep());
    QTest::keyClick(text, Qt::Key_E, Qt::ControlModifier);
    QCOMPARE(vertical->value(), vertical->pageStep());
    // The caret follows the top of the view, so Ctrl+B brings the end into view from there.
    QCOMPARE(text->textCursor().blockNumber(), vertical->value());
    QTest::keyClick(text, Qt::Key_B, Qt::ControlModifier);
    QCOMPARE(vertical->value(), vertical->maximum());
    QTest::keyClick(text, Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(vertical->value(), 0);
    QCOMPARE(text->textCursor().position(), 0);
    QTest::keyClick(text, Qt::Key_D, Qt::ControlModifier);
    QVERIFY(text->horizontalScrollBar()->value() > 0);
    QTest::keyClick(text, Qt::Key_Escape);
    QVERIFY(!viewer.isVisible());
  }

  void commandsOpenTheirDialogsAndRestoreTheWorkArea() {
    Bench b(image_);
    QVERIFY(b.Open());
    kdl::ImageWork& work = b.context.work.image;
    work.dialogMode = kdl::kModeOpenRaw;
    work.openCloseFlags = 3;
    int32_t seenMode = -1, seenFlags = -1;
    QString label;
    auto record = [&](QWidget* w) {
      seenMode = work.dialogMode;
      seenFlags = work.openCloseFlags;
      if (auto* edit = w->findChild<QLineEdit*>("eLabel1")) label = edit->text();
    };
    QVERIFY(
        kdlwtest::DuringModal([&] { QTest::keyClick(kdlwtest::KeyTarget(&b.Browse()), Qt::Key_L); }, record));
    QCOMPARE(seenMode, int32_t{kdl::kModeLabels});
    QCOMPARE(seenFlags, 0);
    QCOMPARE(label, QStringLiteral("sample"));
    QVERIFY(kdlwtest::DuringModal([&] { b.Browse().RestoreCommand(); }, record));
    QCOMPARE(seenMode, int32_t{kdl::kModeRestore});
    b.Select({"README  .TXT"});
    QVERIFY(
        kdlwtest::DuringModal([&] { QTest::keyClick(kdlwtest::KeyTarget(&b.Browse()), Qt::Key_C); }, record));
    QCOMPARE(seenMode, int32_t{kdlw::kCopySelection});
    b.Select({});
    QVERIFY(kdlwtest::DuringModal([&] { b.Browse().CopyCommand(); }, record));
    QCOMPARE(seenMode, int32_t{kdlw::kCopyWholeImage});
    QCOMPARE(seenFlags, 0);
    // The image stays open through all of them, and the work area is as it was.
    QVERIFY(b.Browse().Image().IsOpen());
    QCOMPARE(work.dialogMode, int32_t{kdl::kModeOpenRaw});
    QCOMPARE(work.openCloseFlags, 3);

    const QList<QAction*> menu = b.Browse().SystemMenu1()->Menu()->actions();
    QStringList texts;
    for (QAction* a : menu) texts << a->text();
    QCOMPARE(texts.mid(texts.size() - 6),
             QStringList({"Copy(&C)", "View(&V)", "Dump(&D)", QStringLiteral("FD再生(&R)"),
                          QStringLiteral("ラベル(&L)"), QStringLiteral("開く(&O)")}));
    QTest::keyClick(kdlwtest::KeyTarget(&b.Browse()), Qt::Key_E);
    QVERIFY(!b.Browse().isVisible());
    QVERIFY(!b.Browse().Image().IsOpen());
  }

  void anImageThatCannotBeOpenedEndsTheWindow() {
    QVERIFY(WriteBytes(Path("BAD.KDL"), std::vector<uint8_t>(2000, 'z')));
    Bench b(Path("BAD.KDL"));
    QCOMPARE(b.Browse().Run(), -1);
    QCOMPARE(b.context.work.image.dialogResult, -1);
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QVERIFY(!b.Browse().isVisible());
  }

  void twoVolumeLabelsSortWithoutHarm() {
    std::vector<uint8_t> disk = kdlwtest::FlatDisk(3);
    // A second label entry right after the file, in the root's third slot.
    const kdl::MediaGeometry g = kdl::MediaGeometryOf(3);
    const size_t root = static_cast<size_t>(g.rootStart) * static_cast<size_t>(g.sectorSize);
    for (size_t slot : {size_t{1}, size_t{2}}) {
      uint8_t* e = disk.data() + root + slot * 32;
      std::memcpy(e, slot == 1 ? "LABEL ONE  " : "LABEL TWO  ", 11);
      e[11] = kdl::kAttrVolumeLabel;
    }
    QVERIFY(WriteBytes(Path("LABELS.KDL"), kdlwtest::KdlOf(disk)));
    Bench b(Path("LABELS.KDL"));
    QVERIFY(b.Open());
    for (int click = 0; click < 3; ++click) {
      b.Browse().ColumnClick(1);
      QCOMPARE(b.Column(1).mid(0, 2), QStringList({"  [Label]   ", "  [Label]   "}));
    }
  }

  void mainWindowCommandsReachTheWindows() {
    Bench b(image_);
    QVERIFY(kdlwtest::WriteFileBytes(
        Path("SET.KDZ"),
        kdlwtest::ArchiveBytes("a", "", {ToQBytes(kdlwtest::KdlOf(kdlwtest::FlatDisk(2)))})));
    kdlw::MainFormOptions options;
    options.settingsPath = Path("KDLW.INI");
    options.defaultFolder = dir_.path();
    options.shiftHeld = [] { return true; };
    kdlw::TMainForm form(b.context, options);
    b.context.mainFolder = [&form] { return form.FolderView1()->Path(); };
    const char* commands[] = {"sbSel", "sbRestore", "sbCopy", "sbKDL", "sbLabel"};
    for (const char* name : commands) QVERIFY2(form.findChild<QToolButton*>(name)->isEnabled(), name);

    form.FileView1()->SelectName("MULTI.KDL");
    QString listing;
    auto listingReady = [](QWidget* w) {
      return w->findChild<QToolButton*>("sbClose")->isEnabled() && w->windowTitle().endsWith("TEST");
    };
    QVERIFY(kdlwtest::DuringModal(
        [&] { form.Test(); },
        [&](QWidget* w) { listing = w->findChild<QPlainTextEdit*>("reView")->toPlainText(); }, listingReady));
    QVERIFY(listing.startsWith("FILE:" + image_));
    QVERIFY(listing.contains("TRK  type  data   CRC     len    Rate    CRC2 "));

    form.FileView1()->SelectName("SET.KDZ");
    QVERIFY(kdlwtest::DuringModal(
        [&] { form.Test(); },
        [&](QWidget* w) { listing = w->findChild<QPlainTextEdit*>("reView")->toPlainText(); }, listingReady));
    QVERIFY(listing.contains("KDL :DISK1"));

    form.FileView1()->SelectName("MULTI.KDL");
    QString title;
    QVERIFY(kdlwtest::DuringModal([&] { form.Open(); }, [&](QWidget* w) { title = w->windowTitle(); }));
    QCOMPARE(title, image_);
    QVERIFY(!b.Browse().Image().IsOpen());
  }

  void mainWindowCreatesOpensAndWritesRawImages() {
    Bench b(image_);
    const std::vector<uint8_t> raw = kdlwtest::MultiLevelDisk();
    QVERIFY(WriteBytes(Path("drive.raw"), raw));
    kdlw::MainFormOptions options;
    options.settingsPath = Path("KDLW.INI");
    options.defaultFolder = dir_.path();
    options.shiftHeld = [] { return true; };
    kdlw::TMainForm form(b.context, options);
    b.context.mainFolder = [&form] { return form.FolderView1()->Path(); };

    // A new image goes into the main window's folder and is listed there afterwards.
    QVERIFY(kdlwtest::DuringModal([&] { form.CreateImage(); },
                                  [&](QWidget* w) {
                                    w->findChild<QLineEdit*>("eFname")->setText("FRESH");
                                    w->findChild<QComboBox*>("cbDrive")->setEditText(Path("drive.raw"));
                                    w->findChild<QPushButton*>("btnGo")->click();
                                  }));
    QVERIFY(QFileInfo::exists(Path("FRESH.KDL")));
    form.FileView1()->SelectName("FRESH.KDL");
    QCOMPARE(form.GetFname(), int(kdlw::kKindImage));

    // The raw disk opens in the browse window as an image.
    b.dialogs.files = {Path("drive.raw")};
    QStringList captions;
    QVERIFY(kdlwtest::DuringModal([&] { form.OpenRawImage(); }, [&](QWidget*) { captions = b.Column(0); }));
    QVERIFY(captions.contains("README  .TXT"));
    QCOMPARE(b.context.work.image.dialogMode, int32_t{kdl::kModeCreate});

    // And the new image goes back out as a raw disk.
    form.FileView1()->SelectName("FRESH.KDL");
    b.dialogs.files = {Path("again.raw")};
    QVERIFY(kdlwtest::DuringModal([&] { form.RawImageOutput(); },
                                  [&](QWidget* w) { w->findChild<QPushButton*>("btnGo")->click(); }));
    QVERIFY(kdlwtest::ReadBytes(Path("again.raw")) == raw);
  }

  void commandLineStartWithAnImageOpensTheBrowseWindow() {
    Bench b(image_);
    kdlw::MainFormOptions options;
    options.parameters = {image_};
    options.shiftHeld = [] { return true; };
    kdlw::TMainForm form(b.context, options);
    QSignalSpy finished(&form, &kdlw::TMainForm::CommandLineFinished);
    QString title;
    QVERIFY(
        kdlwtest::DuringModal([&] { form.RunCommandLine(); }, [&](QWidget* w) { title = w->windowTitle(); }));
    QCOMPARE(title, image_);
    QCOMPARE(finished.count(), 1);
  }
};

QTEST_MAIN(BrowseTest)
#include "kdlw_browse_test.moc"
