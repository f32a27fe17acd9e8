#include "kdlw/app/application.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "common/ini.h"
#include "kdlw/app/app_context.h"
#include "kdlw/app/main_form.h"
#include "kdlw/app/single_instance.h"
#include "kdlw/archive/archive_windows.h"
#include "kdlw/archive/kdz_form.h"
#include "kdlw/browse/image_windows.h"
#include "kdlw/browse/kdl_form.h"
#include "kdlw/common/app_icon.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/japanese.h"
#include "kdlw/components/folder_view.h"

namespace kdlw {
namespace {

// Set to a file name, the program saves a picture of its front window there once it has settled (the window
// open modally, else the main window), and ends without touching its settings (for documentation and visual
// checks).
constexpr const char* kScreenshotVariable = "KDLW_SCREENSHOT";
// Names the window to open for the picture: "create" the image dialog in create mode; "view:PATH" or
// "dump:PATH" the viewer on the file PATH ("DIR/NAME") of the image the program was started with;
// "archive:N" line N (from 1) selected in the archive window the program was started with.
constexpr const char* kScreenshotOpenVariable = "KDLW_SCREENSHOT_OPEN";
constexpr int kScreenshotDelayMs = 1500;
constexpr int kScreenshotPollMs = 200;
constexpr int kScreenshotPatienceMs = 8000;
// The exit status of a picture saved without the window's frame (no window manager drew one in time).
constexpr int kScreenshotWithoutFrame = 3;
constexpr int kScreenshotOpenDelayMs = 300;

// The window as the desktop shows it, with the frame and title bar its window manager draws; without a
// window manager (or a screen to grab from) the window's inside, and `framed` false.
QPixmap Picture(QWidget& window, bool& framed) {
  const QRect frame = window.frameGeometry();
  QScreen* screen = window.screen();
  framed = false;
  if (screen != nullptr && frame != window.geometry() && frame.contains(window.geometry())) {
    QPixmap picture = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    framed = picture.size() == frame.size();
    if (framed) return picture;
  }
  return window.grab();
}

void ScheduleScreenshot(TMainForm& form, const QString& file) {
  // A busy machine may take a while to map and frame the window: the picture waits for its frame, within
  // reason (there may be no window manager to draw one).
  auto* poll = new QTimer(&form);
  auto* clock = new QElapsedTimer;
  poll->setInterval(kScreenshotPollMs);
  QObject::connect(poll, &QTimer::timeout, &form, [&form, file, poll, clock] {
    QWidget* front = QApplication::activeModalWidget();
    QWidget& shown = front != nullptr ? *front : form;
    const bool framed = shown.isVisible() && shown.windowHandle() != nullptr &&
                        shown.windowHandle()->isExposed() && shown.frameGeometry() != shown.geometry();
    if (!framed && clock->elapsed() < kScreenshotPatienceMs) return;
    poll->stop();
    delete clock;
    bool withFrame = false;
    if (!Picture(shown, withFrame).save(file, "PNG")) {
      QCoreApplication::exit(2);
    } else {
      QCoreApplication::exit(withFrame ? 0 : kScreenshotWithoutFrame);
    }
  });
  QTimer::singleShot(kScreenshotDelayMs, poll, [poll, clock] {
    clock->start();
    poll->start();
  });
}

void ScheduleScreenshotWindow(TMainForm& form, ImageWindows& windows, ArchiveWindows& archives,
                              const QString& what) {
  QTimer::singleShot(kScreenshotOpenDelayMs, &form, [&form, &windows, &archives, what] {
    if (what == QLatin1String("create")) {
      form.CreateImage();
      return;
    }
    if (what.startsWith(QLatin1String("archive:"))) {
      archives.Archive().ListBox1()->setCurrentRow(what.section(QLatin1Char(':'), 1).toInt() - 1);
      return;
    }
    // The directories on the way are entered as a double click enters them.
    TKDLForm& browse = windows.Browse();
    const QStringList path = what.section(QLatin1Char(':'), 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!browse.isVisible() || path.isEmpty()) return;
    for (qsizetype i = 0; i < path.size(); ++i) {
      if (!browse.SelectName(path[i])) return;
      if (i + 1 < path.size()) browse.OpenSelectedItem();
    }
    if (what.startsWith(QLatin1String("view:"))) browse.ViewCommand();
    if (what.startsWith(QLatin1String("dump:"))) browse.DumpCommand();
  });
}

}  // namespace

int RunApplication(int argc, char** argv) {
  QApplication app(argc, argv);
  InstallJapanese(app);
  QGuiApplication::setDesktopFileName(QStringLiteral("kdlw"));
  QApplication::setWindowIcon(AppIcon());
  QApplication::setFont(JapaneseUiFont(12));

  SingleInstance instance(SingleInstance::DefaultFolder(), SingleInstance::DefaultName());
  if (!instance.TryAcquire()) {
    // A file named to this start is not handed over: the running instance only comes forward.
    instance.ActivateRunning();
    return 1;
  }

  QtUserDialogs dialogs;
  AppContext context(dialogs);

  MainFormOptions options;
  options.parameters = QApplication::arguments().mid(1);
  const QString settingsPath = QFile::decodeName(kdl::SettingsFilePath().c_str());
  options.settingsPath = settingsPath;
  // Used portably the program starts in its own folder; installed, in the user's home.
  const QString exeFolder = QCoreApplication::applicationDirPath();
  options.defaultFolder =
      QFileInfo(settingsPath).absolutePath() == QDir(exeFolder).absolutePath() ? exeFolder : QDir::homePath();

  // The windows over the image exist before the main window, which enables the commands that have one.
  ImageWindows imageWindows(context, LoadDriveSettings());
  imageWindows.Install();
  ArchiveWindows archiveWindows(context, imageWindows);
  archiveWindows.Install();
  TMainForm form(context, options);
  context.mainFolder = [&form] { return form.FolderView1()->Path(); };
  QObject::connect(&instance, &SingleInstance::ActivationRequested, &form, &TMainForm::BringToFront);
  QObject::connect(
      &form, &TMainForm::CommandLineFinished, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);

  if (form.CommandLineMode()) {
    QTimer::singleShot(0, &form, &TMainForm::RunCommandLine);
  } else {
    form.show();
  }
  const QString screenshot = qEnvironmentVariable(kScreenshotVariable);
  if (!screenshot.isEmpty()) {
    ScheduleScreenshot(form, screenshot);
    const QString open = qEnvironmentVariable(kScreenshotOpenVariable);
    if (!open.isEmpty()) ScheduleScreenshotWindow(form, imageWindows, archiveWindows, open);
  }
  // 0, unless a picture was asked for and could not be saved whole (see ScheduleScreenshot).
  const int status = QApplication::exec();
  // Nothing may still reach the image windows once they go.
  context.windows = {};
  context.mainFolder = nullptr;
  return status;
}

}  // namespace kdlw
