// "KDLW.INI": what the main window reads at start and writes at close, and when it leaves the file alone.
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

#include "common/ini.h"
#include "kdlw/app/main_form.h"
#include "kdlw/app/settings.h"
#include "kdlw/components/folder_view.h"
#include "kdlw/components/splitter.h"
#include "samples.h"
#include "scripted_dialogs.h"

using kdlw::TMainForm;

class SettingsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  QString Ini() const { return QDir(dir_.path()).filePath("KDLW.INI"); }
  QString Sub() const { return QDir(dir_.path()).filePath("SUB"); }

  kdlwtest::ScriptedDialogs dialogs_;
  kdlw::MainFormOptions Options(bool shift = false) const {
    kdlw::MainFormOptions o;
    o.settingsPath = Ini();
    o.defaultFolder = QDir::cleanPath(dir_.path());
    o.shiftHeld = [shift] { return shift; };
    return o;
  }
  static kdl::IniFile Load(const QString& path) {
    kdl::IniFile ini;
    ini.Load(path.toStdString());
    return ini;
  }
  static int Int(const kdl::IniFile& ini, const char* key) { return ini.GetInt("MainForm", key, -12345); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(QDir(dir_.path()).mkdir("SUB"));
  }
  void init() { QFile::remove(Ini()); }

  void readAndWriteKeepEveryValue() {
    kdlw::MainSettings s;
    s.current = QStringLiteral("/tmp/日本語 folder");
    s.fdWidth = 250;
    s.placement = {2, 3, -1, -1, -8, -8, 10, 20, 630, 470};
    kdl::IniFile ini;
    kdlw::WriteMainSettings(ini, s);
    kdl::IniFile reread;
    reread.Parse(ini.Text());
    const kdlw::MainSettings back = kdlw::ReadMainSettings(reread, kdlw::MainSettings{});
    QCOMPARE(back.current, s.current);
    QCOMPARE(back.fdWidth, 250);
    QVERIFY(back.placement == s.placement);
    QCOMPARE(reread.GetString("MainForm", "PlaceNormalPos.Right", ""), std::string("630"));

    // Missing or malformed keys keep the defaults.
    kdl::IniFile partial;
    partial.Parse("[MainForm]\nFdWidth=wide\nPlaceShowCmd=3\n");
    kdlw::MainSettings defaults;
    defaults.current = "/home";
    const kdlw::MainSettings read = kdlw::ReadMainSettings(partial, defaults);
    QCOMPARE(read.current, QStringLiteral("/home"));
    QCOMPARE(read.fdWidth, 169);
    QCOMPARE(read.placement.showCmd, 3);
  }

  void firstRunUsesTheDefaultsAndCreatesTheFile() {
    {
      kdlw::AppContext formContext(dialogs_);
      TMainForm form(formContext, Options());
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QCOMPARE(form.FolderView1()->Path(), QDir::cleanPath(dir_.path()));
      QCOMPARE(form.Splitter1()->sizes().value(0), 169);
      QCOMPARE(form.size(), QSize(609, 430));
      QCOMPARE(form.geometry().center(), kdlw::DesignGeometry().center());
      QVERIFY(!QFile::exists(Ini()));
      form.close();
    }
    const kdl::IniFile ini = Load(Ini());
    QCOMPARE(QString::fromStdString(ini.GetString("Directory", "Current", "")), QDir::cleanPath(dir_.path()));
    QCOMPARE(Int(ini, "FdWidth"), 169);
    QCOMPARE(Int(ini, "PlaceShowCmd"), kdlw::kShowNormal);
    QCOMPARE(Int(ini, "PlaceNormalPos.Right") - Int(ini, "PlaceNormalPos.Left"), 609);
    QCOMPARE(Int(ini, "PlaceNormalPos.Bottom") - Int(ini, "PlaceNormalPos.Top"), 430);
  }

  void savedStateComesBackAndOtherSectionsStay() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect normal(screen.x() + 40, screen.y() + 30, 640, 480);
    kdl::IniFile ini;
    ini.SetString("Drives", "List", "A:,B:");
    kdlw::MainSettings s;
    s.current = Sub();
    s.fdWidth = 250;
    s.placement.showCmd = kdlw::kShowMaximized;
    s.placement.minX = 7;
    s.placement.SetNormal(normal);
    kdlw::WriteMainSettings(ini, s);
    QVERIFY(ini.Save(Ini().toStdString()));
    {
      kdlw::AppContext formContext(dialogs_);
      TMainForm form(formContext, Options());
      QCOMPARE(form.FolderView1()->Path(), Sub());
      QVERIFY(form.windowState() & Qt::WindowMaximized);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QCOMPARE(form.normalGeometry(), normal);
      form.close();
    }
    const kdl::IniFile after = Load(Ini());
    QCOMPARE(after.GetString("Drives", "List", ""), std::string("A:,B:"));
    QCOMPARE(QString::fromStdString(after.GetString("Directory", "Current", "")), Sub());
    QCOMPARE(Int(after, "PlaceShowCmd"), kdlw::kShowMaximized);
    QCOMPARE(Int(after, "PlaceMinPos.X"), 7);
    QCOMPARE(Int(after, "PlaceNormalPos.Left"), normal.left());
    QCOMPARE(Int(after, "PlaceNormalPos.Right"), normal.left() + normal.width());
  }

  void treeWidthComesBack() {
    kdl::IniFile ini;
    ini.SetInt("MainForm", "FdWidth", 240);
    QVERIFY(ini.Save(Ini().toStdString()));
    kdlw::AppContext formContext(dialogs_);
    TMainForm form(formContext, Options());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.Splitter1()->sizes().value(0), 240);
  }

  void minimisedCloseRecordsTheShowState() {
    {
      kdlw::AppContext formContext(dialogs_);
      TMainForm form(formContext, Options());
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      form.showMaximized();
      form.showMinimized();
      form.close();
    }
    const kdl::IniFile ini = Load(Ini());
    QCOMPARE(Int(ini, "PlaceShowCmd"), kdlw::kShowMinimized);
    QCOMPARE(Int(ini, "PlaceFlags"), kdlw::kRestoreToMaximized);
    kdlw::AppContext againContext(dialogs_);
    TMainForm again(againContext, Options());
    QVERIFY(again.windowState() & Qt::WindowMinimized);
    QVERIFY(again.windowState() & Qt::WindowMaximized);
  }

  void placementOffEveryScreenIsNotApplied() {
    kdl::IniFile ini;
    kdlw::MainSettings s;
    s.current = Sub();
    s.placement.SetNormal(QRect(-50000, -50000, 600, 400));
    kdlw::WriteMainSettings(ini, s);
    QVERIFY(ini.Save(Ini().toStdString()));
    kdlw::AppContext formContext(dialogs_);
    TMainForm form(formContext, Options());
    QCOMPARE(form.geometry(), kdlw::DesignGeometry());

    ini.SetInt("MainForm", "PlaceNormalPos.Right", -50000);  // zero width
    QVERIFY(ini.Save(Ini().toStdString()));
    kdlw::AppContext emptyContext(dialogs_);
    TMainForm empty(emptyContext, Options());
    QCOMPARE(empty.geometry(), kdlw::DesignGeometry());
  }

  void shiftHeldLeavesTheFileUnchanged() {
    kdl::IniFile ini;
    ini.SetString("Directory", "Current", Sub().toStdString());
    QVERIFY(ini.Save(Ini().toStdString()));
    const QByteArray before = kdlwtest::ReadFileBytes(Ini());
    {
      kdlw::AppContext formContext(dialogs_);
      TMainForm form(formContext, Options(/*shift=*/true));
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      form.FolderView1()->SetPath(dir_.path());
      form.close();
    }
    QCOMPARE(kdlwtest::ReadFileBytes(Ini()), before);
  }

  void commandLineStartNeitherReadsNorWrites() {
    kdl::IniFile ini;
    ini.SetString("Directory", "Current", Sub().toStdString());
    QVERIFY(ini.Save(Ini().toStdString()));
    const QByteArray before = kdlwtest::ReadFileBytes(Ini());
    {
      kdlw::MainFormOptions o = Options();
      o.parameters = {QStringLiteral("DISK.KDL")};
      kdlw::AppContext formContext(dialogs_);
      TMainForm form(formContext, o);
      QVERIFY(form.FolderView1()->Path().isEmpty());
      form.RunCommandLine();
    }
    QCOMPARE(kdlwtest::ReadFileBytes(Ini()), before);
    QFile::remove(Ini());
    {
      kdlw::MainFormOptions o = Options();
      o.parameters = {QStringLiteral("DISK.KDL")};
      kdlw::AppContext formContext(dialogs_);
      TMainForm form(formContext, o);
      form.RunCommandLine();
    }
    QVERIFY(!QFile::exists(Ini()));
  }
};

QTEST_MAIN(SettingsTest)
#include "kdlw_settings_test.moc"
