// The main window: selection kinds, what each command puts into the work area and which window it opens,
// the keys and the focus, the list following its folder, the file operations of the context menu, the
// version box, and mounting an image or archive.
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "kdlw/app/about_box.h"
#include "kdlw/app/main_form.h"
#include "kdlw/app/mounts.h"
#include "kdlw/common/desktop_opener.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/folder_view.h"
#include "samples.h"
#include "scripted_dialogs.h"

using kdlw::TMainForm;

namespace {

// What a window saw in the work area when it was opened.
struct Opened {
  QString window;
  int32_t mode = 0;
  int32_t flags = 0;
  QString image;
  QString archive;
  QString raw;
  int32_t viewerMode = 0;
};

class Harness {
 public:
  explicit Harness(const QString& folder) {
    options.settingsPath = QDir(folder).filePath("KDLW.INI");
    options.defaultFolder = folder;
    options.shiftHeld = [] { return true; };
  }

  void InstallAllWindows() {
    kdlw::WindowHooks& w = context.windows;
    w.browse = Recorder("browse");
    w.archive = Recorder("archive");
    w.imageDialog = Recorder("imageDialog");
    w.archiveDialog = Recorder("archiveDialog");
    w.copy = Recorder("copy");
    w.viewer = Recorder("viewer");
  }

  kdlwtest::ScriptedDialogs dialogs;
  kdlw::AppContext context{dialogs};
  kdlw::MainFormOptions options;
  std::vector<Opened> opened;

 private:
  std::function<void(QWidget*)> Recorder(const char* name) {
    return [this, name](QWidget*) {
      const kdlw::WorkArea& w = context.work;
      opened.push_back({name, w.image.dialogMode, w.image.openCloseFlags,
                        QString::fromStdString(w.image.currentImagePath),
                        QString::fromStdString(w.archive.path), QString::fromStdString(w.image.rawImagePath),
                        w.viewerMode});
    };
  }
};

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;
  QTemporaryDir dir_;
  QTemporaryDir trash_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }

  static void Select(TMainForm& form, const QStringList& names) {
    kdlw::TFileView* list = form.FileView1();
    list->selectionModel()->clearSelection();
    for (int r = 0; r < list->Model().rowCount(); ++r) {
      if (names.contains(list->Model().Row(r).name)) {
        list->selectionModel()->select(list->Model().index(r, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
      }
    }
  }
  static bool Listed(TMainForm& form, const QString& name) {
    const kdlw::FileListModel& m = form.FileView1()->Model();
    for (int r = 0; r < m.rowCount(); ++r) {
      if (m.Row(r).name == name) return true;
    }
    return false;
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(trash_.isValid());
    qputenv("XDG_DATA_HOME", trash_.path().toLocal8Bit());
    // Mount points go below the runtime folder.
    QVERIFY(runtime_.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
  }

  void init() {
    QDir(dir_.path()).removeRecursively();
    QVERIFY(QDir().mkpath(dir_.path()));
    using kdlwtest::WriteFileBytes;
    QVERIFY(WriteFileBytes(Path("A.KDL"), kdlwtest::ImageHeaderBytes(2, "a")));
    QVERIFY(WriteFileBytes(Path("low.kdl"), kdlwtest::ImageHeaderBytes(2, "low")));
    QVERIFY(WriteFileBytes(Path("Z.KDZ"), kdlwtest::ArchiveBytes("z", "", {})));
    QVERIFY(QDir(dir_.path()).mkdir("SUB"));
    QVERIFY(QDir(dir_.path()).mkdir("FOLDER.KDL"));
  }

  void selectionKinds() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    QCOMPARE(form.FolderView1()->Path(), QDir::cleanPath(dir_.path()));
    QCOMPARE(form.windowTitle(), QStringLiteral("ＫＤＬＷ : ") + QDir::cleanPath(dir_.path()));

    Select(form, {});
    QCOMPARE(form.GetFname(), int(kdlw::kKindNone));
    Select(form, {"A.KDL"});
    QCOMPARE(form.GetFname(), int(kdlw::kKindImage));
    QCOMPARE(form.SelectedPath(), Path("A.KDL"));
    Select(form, {"low.kdl"});
    QCOMPARE(form.GetFname(), int(kdlw::kKindImage));
    Select(form, {"Z.KDZ"});
    QCOMPARE(form.GetFname(), int(kdlw::kKindArchive));
    Select(form, {"SUB"});
    QCOMPARE(form.GetFname(), int(kdlw::kKindOther));
    // A folder stays a folder whatever its name ends in.
    Select(form, {"FOLDER.KDL"});
    QCOMPARE(form.GetFname(), int(kdlw::kKindOther));
    Select(form, {"A.KDL", "Z.KDZ"});
    QCOMPARE(form.GetFname(), int(kdlw::kKindNone));
  }

  void commandsFillTheWorkAreaAndOpenTheirWindow() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    TMainForm form(h.context, h.options);
    struct Case {
      const char* select;
      void (TMainForm::*command)();
      const char* window;  // nullptr: nothing opens
      int32_t mode, flags, viewerMode;
      bool archivePath;  // the selection goes to the archive path rather than the image path
    };
    const Case cases[] = {
        {"A.KDL", &TMainForm::Open, "browse", 0, 0, 0, false},
        {"Z.KDZ", &TMainForm::Open, "archive", 0, 0, 0, true},
        {"SUB", &TMainForm::Open, nullptr, 0, 0, 0, false},
        {"A.KDL", &TMainForm::Restore, "imageDialog", 1, 3, 0, false},
        {"Z.KDZ", &TMainForm::Restore, "archiveDialog", 2, 0x30, 0, true},
        {"A.KDL", &TMainForm::CopyAll, "copy", 1, 3, 0, false},
        {"Z.KDZ", &TMainForm::CopyAll, "copy", 2, 0x30, 0, true},
        {"SUB", &TMainForm::CopyAll, nullptr, 0, 0, 0, false},
        {"A.KDL", &TMainForm::Labels, "imageDialog", 3, 3, 0, false},
        {"Z.KDZ", &TMainForm::Labels, "archiveDialog", 3, 0x30, 0, true},
        {"A.KDL", &TMainForm::Test, "viewer", 0, 3, 1, false},
        {"Z.KDZ", &TMainForm::Test, "viewer", 0, 0x30, 2, true},
        {"SUB", &TMainForm::Test, nullptr, 0, 0, 0, false},
        {"Z.KDZ", &TMainForm::CreateOrUpdateArchive, "archiveDialog", 0, 0x30, 0, true},
    };
    for (const Case& c : cases) {
      h.opened.clear();
      h.context.work.image.dialogMode = 0;
      Select(form, {c.select});
      (form.*c.command)();
      if (c.window == nullptr) {
        QVERIFY2(h.opened.empty(), c.select);
        continue;
      }
      QCOMPARE(h.opened.size(), size_t{1});
      const Opened& o = h.opened.front();
      QCOMPARE(o.window, QString::fromLatin1(c.window));
      QCOMPARE(o.flags, c.flags);
      if (c.command != &TMainForm::Open && c.command != &TMainForm::Test) QCOMPARE(o.mode, c.mode);
      if (c.viewerMode != 0) QCOMPARE(o.viewerMode, c.viewerMode);
      QCOMPARE(c.archivePath ? o.archive : o.image, Path(c.select));
    }

    // With two items selected no selection-based command opens anything.
    h.opened.clear();
    Select(form, {"A.KDL", "Z.KDZ"});
    for (auto command : {&TMainForm::Open, &TMainForm::Restore, &TMainForm::CopyAll, &TMainForm::Labels,
                         &TMainForm::Test, &TMainForm::RawImageOutput}) {
      (form.*command)();
    }
    QVERIFY(h.opened.empty());
  }

  void createCommandsNeedNoSelection() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    TMainForm form(h.context, h.options);
    Select(form, {});
    h.context.work.image.currentImagePath = "stale";
    form.CreateImage();
    form.CreateOrUpdateArchive();
    // An image selected starts a new archive rather than adding to one.
    Select(form, {"A.KDL"});
    h.context.work.archive.path = "stale";
    form.CreateOrUpdateArchive();
    QCOMPARE(h.opened.size(), size_t{3});
    QCOMPARE(h.opened[0].window, QStringLiteral("imageDialog"));
    QCOMPARE(h.opened[0].flags, 6);
    QCOMPARE(h.opened[0].mode, 0);
    QVERIFY(h.opened[0].image.isEmpty());
    for (size_t i : {size_t{1}, size_t{2}}) {
      QCOMPARE(h.opened[i].window, QStringLiteral("archiveDialog"));
      QCOMPARE(h.opened[i].flags, 0x60);
      QVERIFY(h.opened[i].archive.isEmpty());
    }
  }

  void rawImageCommandsAskForAFile() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    TMainForm form(h.context, h.options);
    h.dialogs.files = {QString(), Path("disk.img")};
    form.OpenRawImage();  // cancelled
    QVERIFY(h.opened.empty());
    form.OpenRawImage();
    QCOMPARE(h.opened.size(), size_t{1});
    QCOMPARE(h.opened[0].window, QStringLiteral("browse"));
    QCOMPARE(h.opened[0].mode, 4);
    QCOMPARE(h.opened[0].flags, 3);
    QCOMPARE(h.opened[0].raw, Path("disk.img"));
    QCOMPARE(h.opened[0].image, Path("disk.img"));
    QCOMPARE(h.context.work.image.dialogMode, 0);
    QCOMPARE(h.dialogs.records[0].caption, QStringLiteral("img FILE Select"));
    QCOMPARE(h.dialogs.records[0].text, QDir::cleanPath(dir_.path()));

    Select(form, {"Z.KDZ"});
    form.RawImageOutput();  // only for an image
    QCOMPARE(h.opened.size(), size_t{1});
    Select(form, {"A.KDL"});
    h.dialogs.files = {Path("out.img")};
    form.RawImageOutput();
    QCOMPARE(h.opened.size(), size_t{2});
    QCOMPARE(h.opened[1].window, QStringLiteral("imageDialog"));
    QCOMPARE(h.opened[1].mode, 5);
    QCOMPARE(h.opened[1].raw, Path("out.img"));
    QCOMPARE(h.opened[1].image, Path("A.KDL"));
    QCOMPARE(h.context.work.image.dialogMode, 0);
  }

  void keysDispatchToTheirCommands() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    TMainForm form(h.context, h.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget* list = form.FileView1();
    const std::pair<Qt::Key, const char*> keys[] = {
        {Qt::Key_Return, "browse"}, {Qt::Key_Enter, "browse"},  {Qt::Key_S, "browse"},
        {Qt::Key_C, "copy"},        {Qt::Key_L, "imageDialog"}, {Qt::Key_R, "imageDialog"},
        {Qt::Key_T, "viewer"},      {Qt::Key_V, "imageDialog"}, {Qt::Key_Z, "archiveDialog"},
    };
    for (const auto& [key, window] : keys) {
      Select(form, {"A.KDL"});
      h.opened.clear();
      QTest::keyClick(list, key);
      QCOMPARE(h.opened.size(), size_t{1});
      QCOMPARE(h.opened[0].window, QString::fromLatin1(window));
    }
    // Other keys reach the list: Down moves its current item.
    Select(form, {"A.KDL"});
    h.opened.clear();
    form.FileView1()->setCurrentIndex(form.FileView1()->Model().index(0, 0));
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(form.FileView1()->currentIndex().row(), 1);
    QVERIFY(h.opened.empty());
  }

  void focusStartsInTheFileListAndWindowsOpenOverTheMainWindow() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    QWidget* owner = nullptr;
    h.context.windows.imageDialog = [&](QWidget* parent) { owner = parent; };
    TMainForm form(h.context, h.options);
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.FileView1());
    // The speed buttons never take the keyboard from the list.
    for (const QToolButton* b : form.findChildren<QToolButton*>()) QCOMPARE(b->focusPolicy(), Qt::NoFocus);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_V);
    QCOMPARE(owner, &form);
    QCOMPARE(QApplication::focusWidget(), form.FileView1());
  }

  void listFollowsItsFolderAndKeepsTheSelection() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    TMainForm form(h.context, h.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Select(form, {"low.kdl"});
    // A file made by another program shows without being asked for, and the selection stays on its file.
    QVERIFY(kdlwtest::WriteFileBytes(Path("0OUTSIDE.KDL"), kdlwtest::ImageHeaderBytes(2, "outside")));
    QTRY_VERIFY(Listed(form, "0OUTSIDE.KDL"));
    QCOMPARE(form.GetFname(), int(kdlw::kKindImage));
    QCOMPARE(form.SelectedPath(), Path("low.kdl"));
    // A re-list after a command (an export from the archive window) keeps it too: S opens the same file.
    h.context.work.image.listChanged = true;
    form.RefreshIfChanged();
    h.opened.clear();
    QTest::keyClick(form.FileView1(), Qt::Key_S);
    QCOMPARE(h.opened.size(), size_t{1});
    QCOMPARE(h.opened[0].image, Path("low.kdl"));

    // F5 reads the folder and its sub-folders (once opened in the tree) again at once.
    form.FolderView1()->expand(form.FolderView1()->currentIndex());
    QVERIFY(QFile::remove(Path("A.KDL")));
    QVERIFY(QDir(dir_.path()).mkdir("NEWSUB"));
    QTest::keyClick(form.FileView1(), Qt::Key_F5);
    QVERIFY(!Listed(form, "A.KDL"));
    QVERIFY(Listed(form, "NEWSUB"));
    const QAbstractItemModel& tree = *form.FolderView1()->model();
    const QModelIndex here = form.FolderView1()->currentIndex();
    QStringList children;
    for (int r = 0; r < tree.rowCount(here); ++r) children << tree.index(r, 0, here).data().toString();
    QVERIFY2(children.contains("NEWSUB"), qPrintable(children.join(',')));
    QCOMPARE(form.SelectedPath(), Path("low.kdl"));
  }

  void escapeAsksBeforeQuitting() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::keyClick(form.FileView1(), Qt::Key_Escape);
    QCOMPARE(h.dialogs.records.size(), size_t{1});
    const auto& asked = h.dialogs.records[0];
    QCOMPARE(asked.caption, QStringLiteral("KDLW"));
    QCOMPARE(asked.text, QStringLiteral("ＫＤＬＷ　終了しますか？"));
    QCOMPARE(asked.buttons, kdl::Buttons::kYesNo);
    QCOMPARE(asked.icon, kdl::Icon::kQuestion);
    QVERIFY(form.isVisible());
    h.dialogs.answers = {kdl::Answer::kYes};
    QTest::keyClick(form.FolderView1(), Qt::Key_E);
    QVERIFY(!form.isVisible());
  }

  void commandsWithoutTheirWindowAreDisabled() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    auto button = [&](const char* name) { return form.findChild<QToolButton*>(name); };
    auto action = [&](const char* name) { return form.findChild<QAction*>(name); };
    for (const char* name : {"sbSel", "sbRestore", "sbCopy", "sbKDL", "sbKDZ", "sbLabel"}) {
      QVERIFY2(!button(name)->isEnabled(), name);
    }
    for (const char* name : {"K5", "K6", "K7", "K8", "K9", "KT1", "KImgIn", "KimgOI1"}) {
      QVERIFY2(!action(name)->isEnabled(), name);
    }
    QVERIFY(button("sbClose")->isEnabled());
    for (const char* name : {"K10", "KA1", "K12", "K13"}) QVERIFY2(action(name)->isEnabled(), name);
    // The keys of missing windows do nothing at all.
    Select(form, {"A.KDL"});
    for (auto command : {&TMainForm::Open, &TMainForm::Restore, &TMainForm::CopyAll, &TMainForm::CreateImage,
                         &TMainForm::CreateOrUpdateArchive, &TMainForm::Labels, &TMainForm::Test,
                         &TMainForm::OpenRawImage, &TMainForm::RawImageOutput}) {
      (form.*command)();
    }
    QVERIFY(h.dialogs.records.empty());

    h.context.windows.copy = [](QWidget*) {};
    form.UpdateCommandStates();
    QVERIFY(button("sbCopy")->isEnabled());
    QVERIFY(action("K7")->isEnabled());
    QVERIFY(!button("sbKDL")->isEnabled());
  }

  void listIsRefreshedOnlyWhenAWindowSaysSo() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    h.context.windows.imageDialog = [&](QWidget*) {
      kdlwtest::WriteFileBytes(Path("NEW.KDL"), kdlwtest::ImageHeaderBytes(2, "new"));
    };
    form.CreateImage();
    QVERIFY(!Listed(form, "NEW.KDL"));
    h.context.windows.imageDialog = [&](QWidget*) {
      kdlwtest::WriteFileBytes(Path("NEWER.KDL"), kdlwtest::ImageHeaderBytes(2, "newer"));
      h.context.work.image.listChanged = true;
    };
    form.CreateImage();
    QVERIFY(Listed(form, "NEWER.KDL"));
    QVERIFY(!h.context.work.image.listChanged);
  }

  void renameToTheSameTextOrCancelDoesNothing() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    Select(form, {"A.KDL"});
    h.dialogs.inputs = {Path("A.KDL"), std::nullopt};
    form.RenameSelected();
    form.RenameSelected();
    QCOMPARE(h.dialogs.records.size(), size_t{2});
    QCOMPARE(h.dialogs.records[0].caption, Path("A.KDL") + QStringLiteral(" の名称変更"));
    QCOMPARE(h.dialogs.records[0].text, QStringLiteral("NewName:|") + Path("A.KDL"));
    QVERIFY(QFile::exists(Path("A.KDL")));
    Select(form, {});
    form.RenameSelected();
    QCOMPARE(h.dialogs.records.size(), size_t{2});
  }

  void renameMovesTheFileAndNeverReplacesAnother() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    const QByteArray a = kdlwtest::ReadFileBytes(Path("A.KDL"));
    const QByteArray low = kdlwtest::ReadFileBytes(Path("low.kdl"));
    Select(form, {"A.KDL"});
    h.dialogs.inputs = {Path("low.kdl")};
    form.RenameSelected();
    QCOMPARE(h.dialogs.records.back().icon, kdl::Icon::kStop);
    QCOMPARE(kdlwtest::ReadFileBytes(Path("A.KDL")), a);
    QCOMPARE(kdlwtest::ReadFileBytes(Path("low.kdl")), low);

    // A bare name stays in the same folder.
    Select(form, {"A.KDL"});
    h.dialogs.inputs = {QStringLiteral("B.KDL")};
    form.RenameSelected();
    QVERIFY(!QFile::exists(Path("A.KDL")));
    QCOMPARE(kdlwtest::ReadFileBytes(Path("B.KDL")), a);
    QVERIFY(Listed(form, "B.KDL"));
    QVERIFY(!Listed(form, "A.KDL"));

    Select(form, {"SUB"});
    h.dialogs.inputs = {Path("SUB2")};
    form.RenameSelected();
    QVERIFY(QFileInfo(Path("SUB2")).isDir());
    QVERIFY(Listed(form, "SUB2"));
  }

  void deleteMovesToTheTrashAfterAsking() {
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);
    Select(form, {"A.KDL"});
    form.DeleteSelected();  // answered No
    QVERIFY(QFile::exists(Path("A.KDL")));
    QCOMPARE(h.dialogs.records.back().buttons, kdl::Buttons::kYesNo);

    h.dialogs.answers = {kdl::Answer::kYes, kdl::Answer::kYes};
    form.DeleteSelected();
    QVERIFY(!QFile::exists(Path("A.KDL")));
    QVERIFY(!Listed(form, "A.KDL"));
    const QDir trash(QDir(trash_.path()).filePath("Trash/files"));
    QVERIFY(trash.exists("A.KDL"));
    QCOMPARE(kdlwtest::ReadFileBytes(trash.filePath("A.KDL")), kdlwtest::ImageHeaderBytes(2, "a"));

    Select(form, {"SUB"});
    form.DeleteSelected();
    QVERIFY(!QFileInfo::exists(Path("SUB")));
    QVERIFY(trash.exists("SUB"));
  }

  // Qt puts "files" and "info" into the working directory when the user's trash cannot be made.
  void deleteMovesToATrashOrNowhere() {
    QTemporaryDir cwd;
    QVERIFY(cwd.isValid());
    const QString before = QDir::currentPath();
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const auto restore = qScopeGuard([&] {
      QDir::setCurrent(before);
      qputenv("XDG_DATA_HOME", savedData);
    });
    QDir::setCurrent(cwd.path());
    Harness h(dir_.path());
    TMainForm form(h.context, h.options);

    // An account without its data folder: the folder and the trash in it are made, for the owner only.
    const QString data = QDir(trash_.path()).filePath("fresh/.local/share");
    qputenv("XDG_DATA_HOME", data.toLocal8Bit());
    Select(form, {"A.KDL"});
    h.dialogs.answers = {kdl::Answer::kYes};
    form.DeleteSelected();
    QVERIFY(!QFile::exists(Path("A.KDL")));
    QVERIFY(QFile::exists(data + "/Trash/files/A.KDL"));
    QVERIFY(QFile::exists(data + "/Trash/info/A.KDL.trashinfo"));
    QCOMPARE(QFileInfo(data).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());

    // A data folder that cannot be made: the file stays where it is, and the user is told.
    const QString blocker = QDir(trash_.path()).filePath("blocker");
    QVERIFY(kdlwtest::WriteFileBytes(blocker, "a file where a folder should be"));
    qputenv("XDG_DATA_HOME", (blocker + "/share").toLocal8Bit());
    Select(form, {"low.kdl"});
    h.dialogs.answers = {kdl::Answer::kYes};
    form.DeleteSelected();
    QVERIFY(QFile::exists(Path("low.kdl")));
    QCOMPARE(h.dialogs.records.back().icon, kdl::Icon::kStop);
    QVERIFY(h.dialogs.records.back().text.contains(QStringLiteral("ごみ箱に移動できませんでした")));
    QVERIFY(Listed(form, "low.kdl"));

    QCOMPARE(QDir(cwd.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
  }

  void aboutBoxNamesTheVersionAndItsReleaseDate() {
    kdlw::TAboutBox box;
    const QString line = box.findChild<QLabel*>("Version")->text();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^Version \\d+\\.\\d+\\.\\d+　(\\d{4})年(\\d{1,2})月(\\d{1,2})日$"))
            .match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line));
    const QDate released(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    QVERIFY(released.isValid());
    QVERIFY(released.year() >= 2026);
  }

  void mountShowsTheImageInTheFileManagerUntilTheWindowCloses() {
    if (access("/dev/fuse", R_OK | W_OK) != 0) QSKIP("needs /dev/fuse (FUSE is not available here)");
    // A real disk: made by mkfs.fat and mtools, archived as an image and inside an archive.
    const QString raw = Path("disk.img");
    QCOMPARE(QProcess::execute("mkfs.fat", {"-C", "-F", "12", "-S", "512", "-s", "1", "-r", "224", "-g",
                                            "2/18", "-M", "0xF0", raw, "1440"}),
             0);
    QVERIFY(kdlwtest::WriteFileBytes(Path("note.txt"), "mounted\n"));
    QProcess mcopy;
    mcopy.setProcessEnvironment([] {
      QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
      e.insert("MTOOLS_SKIP_CHECK", "1");
      return e;
    }());
    mcopy.start("mcopy", {"-i", raw, Path("note.txt"), "::/NOTE.TXT"});
    QVERIFY(mcopy.waitForFinished() && mcopy.exitCode() == 0);
    const QByteArray image = kdlwtest::ImageFromRawDisk(kdlwtest::ReadFileBytes(raw), {"Box 1"});
    QVERIFY(!image.isEmpty());
    QVERIFY(kdlwtest::WriteFileBytes(Path("M.KDL"), image));
    QVERIFY(kdlwtest::WriteFileBytes(Path("M.KDZ"), kdlwtest::ArchiveBytes("set", "", {image})));
    QVERIFY(kdlwtest::WriteFileBytes(Path("BAD.KDL"), "not an image"));

    // The desktop's file manager is a script that writes down each folder it is given.
    const QString log = Path("opened.txt");
    auto opened = [&log] {
      return QString::fromUtf8(kdlwtest::ReadFileBytes(log)).split('\n', Qt::SkipEmptyParts);
    };
    QStringList points;
    {
      Harness h(dir_.path());
      TMainForm form(h.context, h.options);
      form.Opener().SetCommand("sh", {"-c", "printf '%s\\n' \"$1\" >>\"$0\"", log});
      Select(form, {"M.KDL"});
      form.findChild<QAction*>("KMount")->trigger();
      QTRY_COMPARE(opened().size(), 1);
      Select(form, {"M.KDZ"});
      QVERIFY(form.HandleKey(Qt::Key_M));
      QTRY_COMPARE(opened().size(), 2);
      const QString imageRoot = opened()[0];
      QCOMPARE(kdlwtest::ReadFileBytes(imageRoot + "/NOTE.TXT"), QByteArray("mounted\n"));
      QCOMPARE(kdlwtest::ReadFileBytes(opened()[1] + "/DISK1 Box 1/NOTE.TXT"), QByteArray("mounted\n"));
      // Mounting the same file again opens the same mount point.
      Select(form, {"M.KDL"});
      form.Mount();
      QTRY_COMPARE(opened().size(), 3);
      QCOMPARE(opened()[2], imageRoot);
      points = form.Mounts().MountPoints();
      QCOMPARE(points.size(), 2);
      // What cannot be mounted is said, and nothing opens.
      Select(form, {"BAD.KDL"});
      form.Mount();
      QCOMPARE(h.dialogs.records.size(), size_t{1});
      QVERIFY(h.dialogs.records[0].text.contains(QStringLiteral("をマウントできません")));
      // Without a file manager the user is told where the mount is.
      form.Opener().SetCommand("sh", {"-c", "exit 3"});
      Select(form, {"M.KDL"});
      form.Mount();
      QTRY_COMPARE(h.dialogs.records.size(), size_t{2});
      QVERIFY(h.dialogs.records[1].text.startsWith(imageRoot + QStringLiteral(" にマウントしました")));
      QCOMPARE(opened().size(), 3);
      form.close();
      QFile mountinfo("/proc/self/mountinfo");
      QVERIFY(mountinfo.open(QIODevice::ReadOnly));
      const QByteArray mounts = mountinfo.readAll();
      for (const QString& p : points) {
        QVERIFY2(!mounts.contains(p.toUtf8() + ' '), qPrintable(p));
        QVERIFY(!QFileInfo::exists(p));
      }
    }
  }

  void commandLineOpensTheFileThenFinishes() {
    Harness h(dir_.path());
    h.InstallAllWindows();
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    struct Run {
      QString parameter;
      const char* window;
      QString path;
    };
    const Run runs[] = {{"low.kdl", "browse", Path("low.kdl")},
                        {"Z.KDZ", "archive", Path("Z.KDZ")},
                        {"notes.txt", nullptr, QString()}};
    for (const Run& run : runs) {
      h.opened.clear();
      h.options.parameters = {run.parameter};
      TMainForm form(h.context, h.options);
      QVERIFY(form.CommandLineMode());
      QVERIFY(form.FolderView1()->Path().isEmpty());
      QSignalSpy finished(&form, &TMainForm::CommandLineFinished);
      form.RunCommandLine();
      QCOMPARE(finished.count(), 1);
      if (run.window == nullptr) {
        QVERIFY(h.opened.empty());
        continue;
      }
      QCOMPARE(h.opened.size(), size_t{1});
      QCOMPARE(h.opened[0].window, QString::fromLatin1(run.window));
      QCOMPARE(run.window == QLatin1String("browse") ? h.opened[0].image : h.opened[0].archive, run.path);
    }
    QDir::setCurrent(cwd);
  }
};

QTEST_MAIN(MainFormTest)
#include "kdlw_main_form_test.moc"
