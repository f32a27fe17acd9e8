// The file list and the folder tree: what is listed, with which type and comment, in which order, how the
// list follows its folder, how the tree shows a chosen folder, and how a double click on a folder walks
// into it.
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "drive/formats/container.h"
#include "drive/media.h"
#include "kdlw/components/file_view.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/components/image_file_info.h"
#include "samples.h"

using kdlw::FileListModel;
using kdlw::TFileView;
using kdlw::TFolderView;

class FileViewTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }
  static int RowOf(const FileListModel& model, const QString& name) {
    for (int r = 0; r < model.rowCount(); ++r) {
      if (model.Row(r).name == name) return r;
    }
    return -1;
  }
  static QStringList Names(const FileListModel& model) {
    QStringList names;
    for (int r = 0; r < model.rowCount(); ++r) names << model.Row(r).name;
    return names;
  }

 private slots:
  void initTestCase() {
    // The program runs in Japanese whatever the session's language.
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    QVERIFY(dir_.isValid());
    using kdlwtest::WriteFileBytes;
    QVERIFY(WriteFileBytes(Path("A.KDL"), kdlwtest::ImageHeaderBytes(2, QStringLiteral("テスト　ラベル"))));
    QVERIFY(WriteFileBytes(Path("lower.kdl"), kdlwtest::ImageHeaderBytes(3, QStringLiteral("2DD disk"))));
    QVERIFY(WriteFileBytes(Path("BAD.KDL"), QByteArray("not an image, just some text\n").repeated(20)));
    QVERIFY(WriteFileBytes(Path("SHORT.KDL"), kdlwtest::ImageHeaderBytes(2, "cut").left(200)));
    QVERIFY(WriteFileBytes(Path("ARC.KDZ"),
                           kdlwtest::ArchiveBytes(QStringLiteral("アーカイブ１"), QStringLiteral("second"),
                                                  {kdlwtest::ImageHeaderBytes(2, "x")})));
    // A label whose NUL comes early: what follows the NUL is not text.
    QByteArray nul = kdlwtest::ImageHeaderBytes(5, QStringLiteral("ABC"));
    nul[60 + 3] = '\0';
    nul[60 + 4] = 'Z';
    QVERIFY(WriteFileBytes(Path("NUL.KDL"), nul));
    QVERIFY(WriteFileBytes(Path("notes.txt"), "text"));
    QVERIFY(WriteFileBytes(Path("noext"), "text"));
    QVERIFY(WriteFileBytes(Path("blob"), QByteArray("\x00\x01\x02\xFF", 4)));
    QVERIFY(WriteFileBytes(Path("data.xyzzy"), QByteArray("\x00\x01\x02\xFF", 4)));
    QVERIFY(QDir(dir_.path()).mkdir("SUB"));
    QVERIFY(QDir(dir_.path()).mkdir("DIR.KDL"));
    QVERIFY(WriteFileBytes(Path("SUB/INNER.KDZ"), kdlwtest::ArchiveBytes("in", "", {})));
  }

  void listsImagesArchivesAndFoldersOnly() {
    FileListModel model;
    model.SetMask({".KDL", ".KDZ"});
    QVERIFY(model.List(dir_.path()));
    QStringList names = Names(model);
    names.sort();
    QCOMPARE(names, QStringList({"A.KDL", "ARC.KDZ", "BAD.KDL", "DIR.KDL", "NUL.KDL", "SHORT.KDL", "SUB",
                                 "lower.kdl"}));
  }

  void typeAndCommentComeFromTheHeader() {
    FileListModel model;
    model.SetMask({".KDL", ".KDZ"});
    QVERIFY(model.List(dir_.path()));
    auto row = [&](const char* name) { return model.Row(RowOf(model, name)); };
    QCOMPARE(row("A.KDL").type, QStringLiteral("2HC(1.44M)"));
    QCOMPARE(row("A.KDL").comment, QStringLiteral("テスト　ラベル"));
    QCOMPARE(row("lower.kdl").type, QStringLiteral("2DD(720K) "));
    QCOMPARE(row("lower.kdl").comment, QStringLiteral("2DD disk"));
    QCOMPARE(row("ARC.KDZ").type, QStringLiteral("KDZ File  "));
    QCOMPARE(row("ARC.KDZ").comment, QStringLiteral("アーカイブ１"));
    QCOMPARE(row("NUL.KDL").comment, QStringLiteral("ABC"));

    // Without the magic, or cut short, a file gets the desktop's name for its type, in Japanese, and no
    // comment; a type the desktop does not know gets the program's own name.
    QCOMPARE(row("BAD.KDL").type, QStringLiteral("平文テキストドキュメント"));
    QCOMPARE(row("SHORT.KDL").type, QStringLiteral("KDL ファイル"));
    for (const char* name : {"BAD.KDL", "SHORT.KDL"}) QVERIFY(row(name).comment.isEmpty());
    QVERIFY(row("SUB").folder);
    QVERIFY(row("DIR.KDL").folder);
    QCOMPARE(row("DIR.KDL").type, QStringLiteral("フォルダー"));
    QVERIFY(row("DIR.KDL").comment.isEmpty());
    FileListModel all;
    QVERIFY(all.List(dir_.path()));
    QCOMPARE(all.Row(RowOf(all, "blob")).type, QStringLiteral("ファイル"));
    QCOMPARE(all.Row(RowOf(all, "data.xyzzy")).type, QStringLiteral("XYZZY ファイル"));
    // A name the desktop has only in English is replaced as well.
    QCOMPARE(FileListModel::TypeName("plain text document", false, QFileInfo(Path("notes.txt"))),
             QStringLiteral("TXT ファイル"));

    // What the view shows is the same as the rows.
    const int a = RowOf(model, "A.KDL");
    QCOMPARE(model.data(model.index(a, FileListModel::kType), Qt::DisplayRole).toString(),
             QStringLiteral("2HC(1.44M)"));
    QCOMPARE(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("ﾌｧｲﾙの種類"));
  }

  // Other tools' disk images are listed with the media type of the disk they hold, and their format, text and
  // damage as the comment; a file named like one that holds no disk keeps the desktop's type.
  void otherToolsImagesShowTheirMediaType() {
    QTemporaryDir dir;
    auto path = [&](const char* name) { return QDir(dir.path()).filePath(name); };
    auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
      return kdlwtest::WriteFileBytes(path(name), QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                             static_cast<qsizetype>(bytes.size())));
    };
    auto disk = [](int type) {
      const kdl::MediaGeometry g = kdl::MediaGeometryOf(type);
      std::vector<uint8_t> d(static_cast<size_t>(g.cylinders) * static_cast<size_t>(g.trackSize), 0xF6);
      const auto total = static_cast<uint16_t>(g.cylinders * g.sectorsPerTrack);
      d[19] = static_cast<uint8_t>(total);
      d[20] = static_cast<uint8_t>(total >> 8);
      return d;
    };
    auto encode = [&](kdl::ContainerFormat f, int type, const kdl::ContainerText& text = {}) {
      const std::vector<uint8_t> d = disk(type);
      return kdl::EncodeContainer(f, type, kdl::ByteView(d.data(), d.size()), text);
    };
    QVERIFY(write("GAME.D88", encode(kdl::ContainerFormat::kD88, 0, {"Game disk", {}, 0})));
    QVERIFY(write("pc98.hdm", encode(kdl::ContainerFormat::kHdm, 0)));
    QVERIFY(write("dos.img.gz", encode(kdl::ContainerFormat::kGzip, 2)));
    QVERIFY(write("old.IMD", encode(kdl::ContainerFormat::kImd, 6, {{}, {"Found in a box"}, 0})));
    std::vector<uint8_t> cut = encode(kdl::ContainerFormat::kFdi, 3);
    cut.resize(cut.size() - 512);
    QVERIFY(write("cut.fdi", cut));
    QVERIFY(write("fake.d88", std::vector<uint8_t>(2000, 'x')));
    QVERIFY(write("other.tar.gz", encode(kdl::ContainerFormat::kGzip, 2)));

    FileListModel model;
    model.SetMask(kdlw::ImageListMask());
    QVERIFY(model.List(dir.path()));
    QStringList names = Names(model);
    names.sort();
    QCOMPARE(names, QStringList({"GAME.D88", "cut.fdi", "dos.img.gz", "fake.d88", "old.IMD", "pc98.hdm"}));
    auto row = [&](const char* name) { return model.Row(RowOf(model, name)); };
    QCOMPARE(row("GAME.D88").type, QStringLiteral("2HD(1.25M)"));
    QCOMPARE(row("GAME.D88").comment, QStringLiteral("D88  Game disk"));
    QCOMPARE(row("pc98.hdm").type, QStringLiteral("2HD(1.25M)"));
    QCOMPARE(row("pc98.hdm").comment, QStringLiteral("raw"));
    QCOMPARE(row("dos.img.gz").type, QStringLiteral("2HC(1.44M)"));
    QCOMPARE(row("dos.img.gz").comment, QStringLiteral("gzip"));
    QCOMPARE(row("old.IMD").type, QStringLiteral("1S (8inch)"));
    QCOMPARE(row("old.IMD").comment, QStringLiteral("IMD  Found in a box"));
    QCOMPARE(row("cut.fdi").type, QStringLiteral("2DD(720K) "));
    QCOMPARE(row("cut.fdi").comment, QStringLiteral("FDI  損傷 1 セクタ"));
    QVERIFY(row("fake.d88").comment.isEmpty());
    QCOMPARE(row("fake.d88").type, QMimeDatabase().mimeTypeForFile(path("fake.d88")).comment());
    QVERIFY(kdlw::IsImageFileName("a.Kdl") && kdlw::IsImageFileName("x.IMA.gz") &&
            !kdlw::IsImageFileName("x.gz"));
  }

  void emptyMaskListsEverything() {
    FileListModel model;
    QVERIFY(model.List(dir_.path()));
    QVERIFY(RowOf(model, "notes.txt") >= 0);
    QVERIFY(RowOf(model, "noext") >= 0);
  }

  void unreadableFolderGivesAnEmptyList() {
    FileListModel model;
    QVERIFY(!model.List(Path("missing")));
    QCOMPARE(model.rowCount(), 0);
  }

  void dateTextIsTwoDigitYearAndMinutes() {
    QCOMPARE(FileListModel::DateText(QDateTime(QDate(1998, 7, 23), QTime(12, 34, 56))),
             QStringLiteral("98/07/23 12:34"));
    QCOMPARE(FileListModel::DateText(QDateTime(QDate(2005, 1, 2), QTime(3, 4))),
             QStringLiteral("05/01/02 03:04"));
    QVERIFY(FileListModel::DateText(QDateTime()).isEmpty());
  }

  void columnClicksSortAndFlip() {
    TFileView view;
    view.SetMask({".KDL", ".KDZ"});
    view.List(dir_.path());
    FileListModel& model = view.Model();
    // Name order, folders first, letter case ignored.
    QCOMPARE(Names(model).mid(0, 5), QStringList({"DIR.KDL", "SUB", "A.KDL", "ARC.KDZ", "BAD.KDL"}));
    QCOMPARE(Names(model).last(), QStringLiteral("SHORT.KDL"));

    view.ClickColumn(FileListModel::kComment);
    QStringList comments;
    for (int r = 0; r < model.rowCount(); ++r) comments << model.Row(r).comment;
    QStringList sorted = comments;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
    QCOMPARE(comments, sorted);
    view.ClickColumn(FileListModel::kComment);
    QCOMPARE(model.Row(0).comment, sorted.last());

    // A re-list keeps the last column's order.
    view.Relist();
    QCOMPARE(model.Row(0).comment, sorted.last());

    // A new view starts afresh: name order, and the first click on a column is ascending.
    TFileView other;
    other.List(dir_.path());
    QCOMPARE(other.Model().Row(0).name, QStringLiteral("DIR.KDL"));
  }

  void dateSortKeepsYearsBefore1980InOrder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir d(dir.path());
    for (const char* name : {"OLD.KDL", "MID.KDL", "NEW.KDL"})
      QVERIFY(kdlwtest::WriteFileBytes(d.filePath(name), "x"));
    auto set = [&](const char* name, int year) {
      QFile f(d.filePath(name));
      QVERIFY(f.open(QIODevice::ReadWrite));
      QVERIFY(f.setFileTime(QDateTime(QDate(year, 6, 1), QTime(12, 0)), QFileDevice::FileModificationTime));
    };
    set("OLD.KDL", 1975);
    set("MID.KDL", 1999);
    set("NEW.KDL", 2021);
    TFileView view;
    view.List(dir.path());
    view.ClickColumn(FileListModel::kDate);
    QCOMPARE(Names(view.Model()), QStringList({"OLD.KDL", "MID.KDL", "NEW.KDL"}));
    view.ClickColumn(FileListModel::kDate);
    QCOMPARE(Names(view.Model()), QStringList({"NEW.KDL", "MID.KDL", "OLD.KDL"}));
  }

  void sortingKeepsTheSelection() {
    TFileView view;
    view.SetMask({".KDL", ".KDZ"});
    view.List(dir_.path());
    view.SelectName("lower.kdl");
    view.ClickColumn(FileListModel::kName);
    view.ClickColumn(FileListModel::kName);
    const QList<int> rows = view.SelectedRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(view.Model().Row(rows.front()).name, QStringLiteral("lower.kdl"));
  }

  void doubleClickOnAFolderEntersIt() {
    TFolderView tree;
    TFileView list;
    list.SetMask({".KDL", ".KDZ"});
    list.SetIsExecute(false);
    tree.SetFileView(&list);
    QSignalSpy changed(&tree, &TFolderView::Changed);
    QSignalSpy dblClick(&list, &TFileView::DblClick);
    QCOMPARE(tree.SetPath(dir_.path()), QDir::cleanPath(dir_.path()));
    QCOMPARE(list.Model().Folder(), QDir::cleanPath(dir_.path()));
    QCOMPARE(changed.count(), 1);

    const int sub = RowOf(list.Model(), "SUB");
    QVERIFY(sub >= 0);
    emit list.doubleClicked(list.Model().index(sub, 0));
    QCOMPARE(tree.Path(), Path("SUB"));
    QCOMPARE(Names(list.Model()), QStringList({"INNER.KDZ"}));
    QCOMPARE(dblClick.count(), 1);

    // A file is not entered; the double click is still reported.
    emit list.doubleClicked(list.Model().index(0, 0));
    QCOMPARE(tree.Path(), Path("SUB"));
    QCOMPARE(dblClick.count(), 2);
  }

  void listFollowsItsFolderAndKeepsSelectionAndPlace() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir d(dir.path());
    for (int i = 0; i < 60; ++i)
      QVERIFY(kdlwtest::WriteFileBytes(d.filePath(QStringLiteral("F%1.KDL").arg(i, 2, 10, QLatin1Char('0'))),
                                       "x"));
    TFileView view;
    view.SetMask({".KDL"});
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.List(dir.path());
    view.SelectName("F40.KDL");
    view.selectionModel()->select(view.Model().index(RowOf(view.Model(), "F45.KDL"), 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const int scrolled = view.verticalScrollBar()->value();
    QVERIFY(scrolled > 0);
    // Another program adds a file in front of them: the list shows it by itself, and the same files stay
    // selected and in view.
    QVERIFY(kdlwtest::WriteFileBytes(d.filePath("A0.KDL"), "x"));
    QTRY_VERIFY(RowOf(view.Model(), "A0.KDL") >= 0);
    QStringList selected;
    for (int row : view.SelectedRows()) selected << view.Model().Row(row).name;
    QCOMPARE(selected, QStringList({"F40.KDL", "F45.KDL"}));
    QCOMPARE(view.Model().Row(view.currentIndex().row()).name, QStringLiteral("F40.KDL"));
    QCOMPARE(view.verticalScrollBar()->value(), scrolled);
    // Removed by another program, it goes by itself too; another folder starts with nothing selected.
    QVERIFY(QFile::remove(d.filePath("F40.KDL")));
    QTRY_VERIFY(RowOf(view.Model(), "F40.KDL") < 0);
    QCOMPARE(view.SelectedRows().size(), 1);
    view.List(dir_.path());
    QVERIFY(view.SelectedRows().isEmpty());
  }

  void treeShowsTheChosenFolderAtOnce() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("deep/deeper/deepest"));
    QVERIFY(QDir(dir.path()).mkpath("leaf"));
    QVERIFY(kdlwtest::WriteFileBytes(QDir(dir.path()).filePath("leaf/file.KDL"), "x"));
    TFolderView tree;
    // Selected, with every folder above it open, before any event has been processed.
    const QString deeper = QDir(dir.path()).filePath("deep/deeper");
    QCOMPARE(tree.SetPath(deeper), deeper);
    const QModelIndex current = tree.currentIndex();
    QCOMPARE(tree.Model().FilePath(current), deeper);
    for (QModelIndex up = current.parent(); up.isValid(); up = up.parent()) QVERIFY(tree.isExpanded(up));
    // An expand arrow only where there are sub-folders: a folder of files has none.
    kdlw::FolderTreeModel& model = tree.Model();
    QVERIFY(model.hasChildren(current));
    QVERIFY(!model.hasChildren(model.IndexOf(QDir(dir.path()).filePath("leaf"))));
    QVERIFY(!model.hasChildren(model.IndexOf(QDir(dir.path()).filePath("deep/deeper/deepest"))));
    // Folders made later show when their parent is read again; folders that went are removed.
    QVERIFY(QDir(dir.path()).mkpath("leaf/new"));
    QVERIFY(QDir(dir.path()).rmdir("deep/deeper/deepest"));
    tree.RefreshSelected();
    QVERIFY(!model.hasChildren(tree.currentIndex()));
    const QModelIndex top = model.IndexOf(dir.path());
    model.Refresh(top);
    QVERIFY(model.hasChildren(model.IndexOf(QDir(dir.path()).filePath("leaf"))));
    QCOMPARE(tree.Path(), deeper);
  }

  void missingFolderSelectsItsNearestParent() {
    TFolderView tree;
    QCOMPARE(tree.SetPath(Path("SUB/gone/deeper")), Path("SUB"));
    QCOMPARE(tree.Path(), Path("SUB"));
    QVERIFY(tree.SetPath(QString()).isEmpty());
    QVERIFY(tree.Path().isEmpty());
    QCOMPARE(tree.SetPath("/"), QStringLiteral("/"));
    QCOMPARE(tree.Path(), QStringLiteral("/"));
  }
};

QTEST_MAIN(FileViewTest)
#include "kdlw_file_view_test.moc"
