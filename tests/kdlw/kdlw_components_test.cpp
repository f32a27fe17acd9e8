// The splitter's drag rules, the window menu, the minimise and restore sounds, the prompter that carries
// the core's questions and progress to the windows, where windows open, the Japanese fonts and translations,
// and Qt's own file dialog.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include "kdlw/common/fonts.h"
#include "kdlw/common/japanese.h"
#include "kdlw/common/placement.h"
#include "kdlw/common/qt_prompter.h"
#include "kdlw/common/user_dialogs.h"
#include "kdlw/components/animate_form.h"
#include "kdlw/components/file_list_model.h"
#include "kdlw/components/splitter.h"
#include "kdlw/components/system_menu.h"
#include "scripted_dialogs.h"

using kdlw::TSplitter;

namespace {

// A 400-pixel splitter with a 100-pixel left pane and a 2-pixel handle.
struct SplitterFixture {
  SplitterFixture() {
    splitter.setHandleWidth(2);
    splitter.addWidget(new QWidget);
    splitter.addWidget(new QWidget);
    splitter.resize(402, 300);
    splitter.setSizes({100, 300});
    splitter.show();
  }
  QWidget* Handle() { return splitter.handle(1); }
  // Drags the handle by `dx` pixels; `cancel` presses Escape before the button is released.
  void Drag(int dx, bool cancel = false) {
    const QPoint start(1, 150);
    QTest::mousePress(Handle(), Qt::LeftButton, {}, start);
    QTest::mouseMove(Handle(), start + QPoint(dx, 0));
    if (cancel) QTest::keyClick(Handle(), Qt::Key_Escape);
    QTest::mouseRelease(Handle(), Qt::LeftButton, {}, start + QPoint(dx, 0));
  }
  TSplitter splitter;
};

}  // namespace

class ComponentsTest : public QObject {
  Q_OBJECT

 private slots:
  void splitterAppliesTheDragWithinItsLimits() {
    SplitterFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.splitter));
    QSignalSpy moved(&f.splitter, &TSplitter::Moved);
    f.Drag(50);
    QCOMPARE(f.splitter.sizes(), QList<int>({150, 250}));
    // Below MinSize the pane stays at MinSize.
    f.Drag(-140);
    QCOMPARE(f.splitter.sizes().value(0), 30);
    // Beyond its neighbour's room it stops at the largest size, which leaves the neighbour one pixel.
    f.Drag(1000);
    QCOMPARE(f.splitter.sizes(), QList<int>({399, 1}));
    QCOMPARE(moved.count(), 3);
  }

  void escapeCancelsTheDragAndStillReportsIt() {
    SplitterFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.splitter));
    f.splitter.SetMinSize(60);
    QSignalSpy moved(&f.splitter, &TSplitter::Moved);
    f.Drag(80, /*cancel=*/true);
    QCOMPARE(f.splitter.sizes(), QList<int>({100, 300}));
    QCOMPARE(moved.count(), 1);
    f.Drag(-90);
    QCOMPARE(f.splitter.sizes().value(0), 60);
  }

  void systemMenuAddsItemsAfterTheWindowCommands() {
    QWidget form;
    kdlw::TSystemMenu menu(&form);
    int clicks = 0;
    menu.AddItem("-");
    menu.AddItem(QStringLiteral("選択(&S)"), [&] { ++clicks; });
    QList<QAction*> actions = menu.Menu()->actions();
    QCOMPARE(actions.size(), 9);  // six commands, the separator above close, then the items
    QVERIFY(actions[5]->isSeparator());
    QCOMPARE(actions[6]->text(), QStringLiteral("閉じる(&C)"));
    QVERIFY(actions[7]->isSeparator());
    // A separator carries no text that a style could draw.
    QVERIFY(actions[7]->text().isEmpty());
    actions[8]->trigger();
    QCOMPARE(clicks, 1);

    // The menu bar's entry holds the same menu, built when it opens.
    QMenuBar bar(&form);
    QMenu* entry = menu.AddToMenuBar(&bar, kdlw::kWindowMenuTitle);
    menu.AddItem(QStringLiteral("ラベル(&L)"));
    emit entry->aboutToShow();
    auto texts = [](const QList<QAction*>& list) {
      QStringList t;
      for (const QAction* a : list) t << (a->isSeparator() ? QStringLiteral("-") : a->text());
      return t;
    };
    QCOMPARE(texts(entry->actions()), texts(menu.Menu()->actions()));
    QCOMPARE(texts(entry->actions()).last(), QStringLiteral("ラベル(&L)"));
    QCOMPARE(bar.actions().front()->text(), QStringLiteral("ウィンドウ(&W)"));
    // Alt+Space stays with the desktop's own window menu.
    for (const QShortcut* s : form.findChildren<QShortcut*>())
      QVERIFY(s->key() != QKeySequence(Qt::ALT | Qt::Key_Space));

    menu.SetEnableCommands(kdlw::TSystemMenu::scMove | kdlw::TSystemMenu::scMinimize);
    actions = menu.Menu()->actions();
    QCOMPARE(actions.size(), 5);
    QCOMPARE(actions[0]->text(), QStringLiteral("移動(&M)"));
    QCOMPARE(actions[1]->text(), QStringLiteral("最小化(&N)"));
    QVERIFY(actions[2]->isSeparator());

    QWidget child(&form);
    QVERIFY_THROWS_EXCEPTION(kdlw::ESystemMenuError, kdlw::TSystemMenu{&child});
  }

  void systemMenuCommandsFollowTheWindowState() {
    QWidget form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    kdlw::TSystemMenu menu(&form);
    QList<QAction*> actions = menu.Menu()->actions();
    QVERIFY(!actions[0]->isEnabled());  // restore
    actions[4]->trigger();              // maximise
    QVERIFY(form.isMaximized());
    actions = menu.Menu()->actions();
    QVERIFY(actions[0]->isEnabled());
    QVERIFY(!actions[4]->isEnabled());
    actions[6]->trigger();  // close
    QVERIFY(!form.isVisible());
  }

  void minimiseAndRestorePlayTheirSounds() {
    QWidget form;
    kdlw::TAnimateForm animate(&form);
    // Nothing is played unless a player is set: the desktop's bell is its error sound.
    QVERIFY(!animate.play);
    std::vector<kdlw::TAnimateForm::Sound> played;
    animate.play = [&](kdlw::TAnimateForm::Sound s) { played.push_back(s); };
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.showMinimized();
    form.showNormal();
    form.showMaximized();
    using S = kdlw::TAnimateForm::Sound;
    QCOMPARE(played, std::vector<S>({S::kMinimize, S::kRestoreUp}));

    QWidget child(&form);
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, kdlw::TAnimateForm{&child});
  }

  void prompterCarriesQuestionsProgressAndCancel() {
    kdlwtest::ScriptedDialogs dialogs;
    kdlw::QtPrompter prompter(dialogs);
    dialogs.answers = {kdl::Answer::kRetry};
    QCOMPARE(prompter.Ask("KDL Form", "ドライブの準備ができていません", kdl::Buttons::kRetryCancel,
                          kdl::Icon::kStop),
             kdl::Answer::kRetry);
    QCOMPARE(dialogs.records[0].caption, QStringLiteral("KDL Form"));
    QCOMPARE(dialogs.records[0].text, QStringLiteral("ドライブの準備ができていません"));
    QCOMPARE(dialogs.records[0].buttons, kdl::Buttons::kRetryCancel);
    QCOMPARE(dialogs.records[0].icon, kdl::Icon::kStop);

    QProgressBar bar;
    QLabel label;
    {
      kdlw::ProgressScope scope(prompter, &bar, &label);
      prompter.SetProgressMaximum(80);
      prompter.SetProgress(12);
      prompter.SetStatus("入力中　　：TRK  12 / 80");
    }
    QCOMPARE(bar.maximum(), 80);
    QCOMPARE(bar.value(), 12);
    QCOMPARE(label.text(), QStringLiteral("入力中　　：TRK  12 / 80"));
    // Outside the scope nothing is shown anywhere.
    prompter.SetProgress(13);
    QCOMPARE(bar.value(), 12);

    QStatusBar status;
    prompter.SetProgressTarget(nullptr, &status);
    prompter.SetStatus("line");
    QCOMPARE(status.currentMessage(), QStringLiteral("line"));
    // A line too long for its bar loses the middle of its path, never the size at its end.
    status.resize(300, 20);
    const QString path =
        QStringLiteral("/home/user/とても長いフォルダー名/") + QString(40, 'x') + "/FILE.TXT";
    prompter.SetStatus(("コピー中 : " + path + " 98-07-23 12:34 123456 bytes").toStdString());
    const QString shown = status.currentMessage();
    QVERIFY2(shown.startsWith(QStringLiteral("コピー中 : /home/")), qPrintable(shown));
    QVERIFY2(shown.endsWith(QStringLiteral("12:34 123456 bytes")), qPrintable(shown));
    QVERIFY(shown.contains(QChar(0x2026)));
    QVERIFY(status.fontMetrics().horizontalAdvance(shown) <= status.width());

    // The type line of a disk goes to its own label while a scope names one.
    QLabel type;
    {
      kdlw::ProgressScope scope(prompter, &bar, &label, &type);
      prompter.ShowTypeLine("タイプ：2HD(1.44M)  Volume LABEL : SAMPLE");
    }
    QCOMPARE(type.text(), QStringLiteral("タイプ：2HD(1.44M)  Volume LABEL : SAMPLE"));
    prompter.ShowTypeLine("elsewhere");
    QCOMPARE(type.text(), QStringLiteral("タイプ：2HD(1.44M)  Volume LABEL : SAMPLE"));
    // Every question put to the user is counted, so that a silent failure can be told from a told one.
    QCOMPARE(prompter.MessagesShown(), 1);

    QVERIFY(!prompter.Pump());
    prompter.RequestCancel();
    QVERIFY(prompter.Pump());
    QVERIFY(!prompter.Pump());
  }

  void messageBoxesAnswerInJapaneseAndEscapeMeansNo() {
    kdlw::QtUserDialogs dialogs;
    QStringList texts;
    bool defaultIsYes = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      for (QAbstractButton* b : box->buttons()) texts << b->text();
      defaultIsYes = box->defaultButton() == box->button(QMessageBox::Yes);
      QTest::keyClick(box, Qt::Key_Escape);
    });
    QCOMPARE(dialogs.Message(nullptr, "KDLW", QStringLiteral("終了しますか？"), kdl::Buttons::kYesNo,
                             kdl::Icon::kQuestion),
             kdl::Answer::kNo);
    texts.sort();
    QCOMPARE(texts, QStringList({QStringLiteral("いいえ(&N)"), QStringLiteral("はい(&Y)")}));
    QVERIFY(defaultIsYes);

    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      box->button(QMessageBox::Retry)->click();
    });
    QCOMPARE(dialogs.Message(nullptr, "KDL Form", "x", kdl::Buttons::kAbortRetryIgnore, kdl::Icon::kStop),
             kdl::Answer::kRetry);
  }

  void windowsOpenCentredOnTheirOwner() {
    QWidget owner;
    owner.setGeometry(200, 150, 600, 400);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    QWidget window;
    window.resize(300, 200);
    kdlw::PlaceOver(&window, &owner);
    QCOMPARE(window.geometry().center(), owner.geometry().center());
    QCOMPARE(kdlw::OwnerWindow(&window), &owner);

    // An owner that stepped aside still gives the place; the window belongs to the owner's own owner.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.move(20, 30);
    window.hide();
    QWidget next;
    next.resize(100, 100);
    kdlw::PlaceOver(&next, &window);
    QCOMPARE(next.geometry().center(), window.geometry().center());
    QCOMPARE(kdlw::OwnerWindow(&next), &owner);

    // Never off the screen, however the owner lies.
    const QRect screen = owner.screen()->availableGeometry();
    owner.move(screen.right() - 50, screen.bottom() - 50);
    kdlw::PlaceOver(&next, &owner);
    QVERIFY(screen.contains(next.geometry()));
  }

  void japaneseFontsShowJapanese() {
    if (kdlw::FirstInstalledFamily({"Noto Sans CJK JP"}).isEmpty()) QSKIP("fonts-noto-cjk is not installed");
    for (const QFont& font : {kdlw::JapaneseUiFont(12), kdlw::JapaneseFixedFont(12)}) {
      const QFontMetrics metrics(font);
      for (QChar c : QStringLiteral("カドローン終了ﾌｧｲﾙＫＤＬ")) QVERIFY(metrics.inFont(c));
      QCOMPARE(font.pixelSize(), 12);
    }
    QCOMPARE(QFontInfo(kdlw::JapaneseUiFont(12)).family(), QStringLiteral("Noto Sans CJK JP"));
    QCOMPARE(QFontInfo(kdlw::JapaneseFixedFont(12)).family(), QStringLiteral("Noto Sans Mono CJK JP"));
  }
};

// Installs Japanese before the first test: the later ones see the program's translations.
class JapaneseTest : public QObject {
  Q_OBJECT

 private slots:
  void qtDialogsSpeakJapanese() {
    QVERIFY2(kdlw::InstallJapanese(*QCoreApplication::instance()), "qt6-translations-l10n is not installed");
    QCOMPARE(QLocale().language(), QLocale::Japanese);
    QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Open);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("アドレス:"));
  }

  void fileDialogShowsAllItsColumns() {
    kdlw::QtUserDialogs dialogs;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("SUB"));
    bool checked = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      auto* details = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
      QVERIFY(details != nullptr);
      QTRY_VERIFY(details->model()->rowCount(details->rootIndex()) > 0);
      // Name, size, type and date all lie inside the visible list.
      const QHeaderView* head = details->header();
      for (int c = 0; c < 4; ++c) {
        QVERIFY2(!head->isSectionHidden(c), qPrintable(QString::number(c)));
        QVERIFY2(head->sectionViewportPosition(c) + head->sectionSize(c) <= details->viewport()->width(),
                 qPrintable(QString::number(c)));
      }
      // A folder's type is named in Japanese like the rest, and the date is the file list's.
      const QModelIndex sub = details->model()->index(0, 0, details->rootIndex());
      QCOMPARE(sub.data().toString(), QStringLiteral("SUB"));
      QCOMPARE(sub.siblingAtColumn(2).data().toString(), QStringLiteral("フォルダー"));
      QCOMPARE(sub.siblingAtColumn(3).data().toString(),
               kdlw::FileListModel::DateText(QFileInfo(QDir(dir.path()).filePath("SUB")).lastModified()));
      checked = true;
      dialog->reject();
    });
    QVERIFY(dialogs.OpenFileName(nullptr, "img FILE Select", dir.path(), "imgファイル(*.img)").isEmpty());
    QVERIFY(checked);
  }

  // A name typed without an extension in a save dialog gets the extension of the kind of file chosen.
  void saveDialogAddsTheChosenKindsExtension() {
    const QString filter = QStringLiteral(
        "imgファイル(*.img);;D88 (*.d88 *.d98 *.88d);;gzip img (*.img.gz);;すべてのファイル(*)");
    struct Case {
      const char* kind;  // empty: the first kind, as the dialog opens
      const char* typed;
      const char* saved;
    };
    const Case cases[] = {
        {"", "DISK", "DISK.img"},
        {"D88 (*.d88 *.d98 *.88d)", "GAME", "GAME.d88"},
        {"gzip img (*.img.gz)", "dos", "dos.img.gz"},
        {"D88 (*.d88 *.d98 *.88d)", "old.bin", "old.bin"},
        {"すべてのファイル(*)", "NOEXT", "NOEXT"},
    };
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    kdlw::QtUserDialogs dialogs;
    for (const Case& c : cases) {
      QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        const QString kind = QString::fromUtf8(c.kind);
        if (!kind.isEmpty()) {
          dialog->selectNameFilter(kind);
          emit dialog->filterSelected(kind);  // as a choice in the kind box signals it
        }
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name != nullptr);
        name->setText(QString::fromUtf8(c.typed));
        static_cast<QDialog*>(dialog)->accept();  // as the save button does
      });
      const QString saved = dialogs.SaveFileName(nullptr, "img FILE Select", dir.path(), filter);
      QCOMPARE(saved, QDir(dir.path()).filePath(QString::fromUtf8(c.saved)));
    }
    QCOMPARE(kdlw::ExtensionOfFilter(QStringLiteral("カドローン(*.kdl) (*.KDL *.kdl)")),
             QStringLiteral("KDL"));
    QVERIFY(kdlw::ExtensionOfFilter(QStringLiteral("全てのファイル(*.*) (*)")).isEmpty());
    QVERIFY(kdlw::ExtensionOfFilter(QStringLiteral("all (*.*)")).isEmpty());
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  JapaneseTest japanese;
  ComponentsTest components;
  return QTest::qExec(&japanese, argc, argv) | QTest::qExec(&components, argc, argv);
}
#include "kdlw_components_test.moc"
