// One instance at a time: a second start brings the running one forward and ends with status 1, and an
// instance that died does not keep the next start out.
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "kdlw/app/main_form.h"
#include "kdlw/app/single_instance.h"
#include "scripted_dialogs.h"

using kdlw::SingleInstance;

class StartupTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime_.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
  }
  // Starts the program with `arguments`; `program` is a copy of it in a folder of the test's own, so that
  // its settings file stays there.
  std::unique_ptr<QProcess> Start(const QString& program, const QStringList& arguments = {}) const {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(Environment());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    return process;
  }
  // The process id in the instance lock, or 0 when nobody holds it.
  qint64 LockHolder() const {
    QLockFile lock(QDir(runtime_.path()).filePath(SingleInstance::DefaultName() + ".lock"));
    qint64 pid = 0;
    QString host, app;
    return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
  }
  // Waits for the program to end while this process keeps answering; true when it ended with `status`.
  static bool EndsWith(QProcess& p, int status) {
    const QDeadlineTimer deadline(30000);
    while (p.state() != QProcess::NotRunning && !deadline.hasExpired()) QTest::qWait(20);
    return p.state() == QProcess::NotRunning && p.exitStatus() == QProcess::NormalExit &&
           p.exitCode() == status;
  }

 private slots:
  void initTestCase() { QVERIFY(runtime_.isValid()); }

  void secondStartRestoresTheFirstAndEnds() {
    SingleInstance first(runtime_.path(), SingleInstance::DefaultName());
    QVERIFY(first.TryAcquire());
    QTemporaryDir settings;
    kdlwtest::ScriptedDialogs dialogs;
    kdlw::AppContext context(dialogs);
    std::vector<QString> opened;
    context.windows.browse = [&](QWidget*) {
      opened.push_back(QString::fromStdString(context.work.image.currentImagePath));
    };
    kdlw::MainFormOptions options;
    options.settingsPath = QDir(settings.path()).filePath("KDLW.INI");
    options.defaultFolder = settings.path();
    options.shiftHeld = [] { return true; };
    kdlw::TMainForm form(context, options);
    connect(&first, &SingleInstance::ActivationRequested, &form, &kdlw::TMainForm::BringToFront);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.showMinimized();
    QVERIFY(form.isMinimized());

    // The file named to the second start is dropped: nothing opens in the first.
    auto second = Start(KDLW_BINARY, {QDir(settings.path()).filePath("DISK.KDL")});
    QVERIFY(EndsWith(*second, 1));
    QTRY_VERIFY(!form.isMinimized());
    QVERIFY(opened.empty());
  }

  void twoProgramsAndAProgramThatDied() {
    QTemporaryDir folder;
    const QString program = QDir(folder.path()).filePath("kdlw");
    QVERIFY(QFile::copy(KDLW_BINARY, program));

    auto first = Start(program);
    QVERIFY(first->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QDir(runtime_.path()).filePath(SingleInstance::DefaultName())),
                             30000);
    auto second = Start(program, {"ARCHIVE.KDZ"});
    QVERIFY(EndsWith(*second, 1));
    QCOMPARE(first->state(), QProcess::Running);

    first->kill();
    QVERIFY(first->waitForFinished());
    auto third = Start(program);
    QVERIFY(third->waitForStarted());
    // The next start must come after the third has taken over the dead one's lock.
    QTRY_COMPARE_WITH_TIMEOUT(LockHolder(), third->processId(), 30000);
    auto fourth = Start(program);
    QVERIFY(EndsWith(*fourth, 1));
    QCOMPARE(third->state(), QProcess::Running);
    third->kill();
    QVERIFY(third->waitForFinished());
  }
};

QTEST_MAIN(StartupTest)
#include "kdlw_startup_test.moc"
