// The image dialog over raw disk image files acting as drives: creating an image (and the name rules),
// restoring it, the label lines, raw output, cancelling a running creation, and the drive list.
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "common/sjis.h"
#include "drive/formats/container.h"
#include "image/listing.h"
#include "image/restore.h"
#include "image_fixture.h"
#include "kdlw/image/drive_choices.h"
#include "kdlw/image/form_support.h"
#include "kdlw/image/kdi_form.h"
#include "scripted_dialogs.h"

using kdlwtest::ReadBytes;
using kdlwtest::WriteBytes;

namespace {

struct Bench {
  explicit Bench(const QString& folder) {
    context.mainFolder = [folder] { return folder; };
  }

  // Prepares the dialog for `mode` and shows it (without waiting for it to close).
  bool Open(int32_t mode, int32_t flags, const QString& imagePath = {}) {
    kdl::ImageWork& work = context.work.image;
    work.dialogMode = mode;
    work.openCloseFlags = flags;
    work.currentImagePath = imagePath.toStdString();
    if (!form.Prepare()) return false;
    form.show();
    return true;
  }
  QLineEdit* Edit(const char* name) { return form.findChild<QLineEdit*>(name); }
  QPushButton* Button(const char* name) { return form.findChild<QPushButton*>(name); }
  QCheckBox* Check(const char* name) { return form.findChild<QCheckBox*>(name); }
  void SetDrive(const QString& text) { form.findChild<QComboBox*>("cbDrive")->setEditText(text); }
  kdl::ImageWork& Work() { return context.work.image; }
  QStringList MessageTexts() const {
    QStringList texts;
    for (const auto& r : dialogs.records) texts << r.text;
    return texts;
  }

  kdlwtest::ScriptedDialogs dialogs;
  kdlw::AppContext context{dialogs};
  kdl::ImageState image{context.work.image};
  kdlw::TKDIForm form{context, image, kdl::DriveSettings{}};
};

// The label lines and the raw disk of an image file, read with the core.
struct ImageContents {
  kdl::LabelTexts labels;
  std::vector<uint8_t> raw;
};

ImageContents ReadImage(const QString& path, const QString& scratch) {
  kdl::SilentPrompter prompter;
  kdl::ImageWork work;
  work.prompter = &prompter;
  kdl::ImageState image(work);
  ImageContents contents;
  std::string type;
  kdl::ReadLabels(image, path.toStdString(), kdl::kOpenFirst | kdl::kCloseAfter, type, contents.labels);
  if (kdl::WriteRawImage(image, path.toStdString(), scratch.toStdString()) > 0)
    contents.raw = ReadBytes(scratch);
  return contents;
}

std::string Sjis(const char* utf8) { return kdl::Utf8ToSjis(utf8).value_or("?"); }

}  // namespace

class ImageDialogTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::vector<uint8_t> disk_;
  QString Path(const QString& name) const { return QDir(dir_.path()).filePath(name); }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    disk_ = kdlwtest::MultiLevelDisk();
    QVERIFY(WriteBytes(Path("drive.img"), disk_));
  }

  void createCompletesABareNameAndReadsTheWholeDisk() {
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    QCOMPARE(b.form.windowTitle(), QStringLiteral("カドローン作成"));
    QCOMPARE(b.form.findChild<QLabel*>("lblDrive")->text(), QStringLiteral("入力ドライブ　："));
    QVERIFY(!b.Edit("eFname")->isReadOnly());
    QVERIFY(b.Button("btnRef")->isEnabled());
    b.Edit("eFname")->setText("FLOPPY");
    b.Edit("eLabel1")->setText(QStringLiteral("ゲーム　データ"));
    b.Edit("eLabel2")->setText("second line");
    b.SetDrive(Path("drive.img"));
    b.form.btnGoClick();

    // The main window's folder and ".KDL" were added, and the edit shows the name used.
    QCOMPARE(b.Edit("eFname")->text(), Path("FLOPPY.KDL"));
    QVERIFY(b.dialogs.records.empty());
    QVERIFY(!b.form.isVisible());
    QVERIFY(b.Work().listChanged);
    QCOMPARE(b.Work().dialogResult, static_cast<int32_t>(QFileInfo(Path("FLOPPY.KDL")).size()));
    QVERIFY(b.form.findChild<QLabel*>("lblStatus")->text().startsWith(QStringLiteral("タイプ：")));
    const ImageContents made = ReadImage(Path("FLOPPY.KDL"), Path("check.img"));
    QCOMPARE(made.labels[0], Sjis("ゲーム　データ"));
    QCOMPARE(made.labels[1], std::string("second line"));
    QVERIFY(made.raw == disk_);
  }

  void createPassesANameWithExtensionAsTypedAndKeepsTheChoices() {
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    // Free clusters kept, no compression, no verification asked of a raw image.
    b.Check("cbPack")->setChecked(false);
    b.Check("cbClust")->setChecked(true);
    b.Edit("eFname")->setText(Path("copy.img"));
    b.SetDrive(Path("drive.img"));
    b.form.btnGoClick();
    QCOMPARE(b.Edit("eFname")->text(), Path("copy.img"));
    QVERIFY(ReadBytes(Path("copy.img")) == disk_);
    QVERIFY(!b.Work().compress);
    QVERIFY(!b.Work().omitUnused);

    // The choice stays for the next use; a lower-case ".kdl" is an image all the same.
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    QVERIFY(!b.Check("cbPack")->isChecked());
    QVERIFY(b.Check("cbClust")->isChecked());
    b.Edit("eFname")->setText(Path("lower.kdl"));
    b.SetDrive(Path("drive.img"));
    b.form.btnGoClick();
    QVERIFY(!QFileInfo::exists(Path("lower.kdl.KDL")));
    QVERIFY(ReadImage(Path("lower.kdl"), Path("check.img")).raw == disk_);
  }

  void createRefusesAMissingDriveOrName() {
    Bench b(dir_.path());
    const QStringList before = QDir(dir_.path()).entryList(QDir::Files);
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    b.Edit("eFname")->setText("NODRIVE");
    b.SetDrive({});
    b.form.btnGoClick();
    b.SetDrive(Path("absent.img"));
    b.form.btnGoClick();
    b.SetDrive(Path("drive.img"));
    b.Edit("eFname")->setText(dir_.path() + "/");
    b.form.btnGoClick();
    QCOMPARE(b.MessageTexts(),
             QStringList({QStringLiteral("ドライブが指定されていません"),
                          QStringLiteral("ドライブ %1 が見つかりません").arg(Path("absent.img")),
                          QStringLiteral("ファイル名が指定されていません")}));
    // The dialog stays up for another try and nothing was written.
    QVERIFY(b.form.isVisible());
    QVERIFY(!b.form.Busy());
    QCOMPARE(QDir(dir_.path()).entryList(QDir::Files), before);
  }

  void escapeDuringCreationAsksAndNoGoesOn() {
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    b.Edit("eFname")->setText(Path("goes-on.KDL"));
    b.SetDrive(Path("drive.img"));
    bool refusedClose = false, busy = false;
    QString cancelCaption, status, typeLine;
    int progressMaximum = 0;
    QTimer::singleShot(0, &b.form, [&] {
      busy = b.form.Busy();
      status = b.form.findChild<QStatusBar*>("sbStatus")->currentMessage();
      typeLine = b.form.findChild<QLabel*>("lblStatus")->text();
      progressMaximum = b.form.findChild<QProgressBar*>("pbKDL")->maximum();
      refusedClose = !b.form.close() && b.form.isVisible();
      cancelCaption = b.Button("btnCancel")->text();
      QTest::keyClick(kdlwtest::KeyTarget(&b.form), Qt::Key_Escape);
    });
    b.dialogs.answers = {kdl::Answer::kNo};
    b.form.btnGoClick();
    QVERIFY(busy);
    QVERIFY(refusedClose);
    QCOMPARE(cancelCaption, QStringLiteral("中断"));
    // Progress counts track units, and the status line names the unit being read.
    QCOMPARE(progressMaximum, 80);
    QCOMPARE(status, QStringLiteral("入力中　　：TRK   0 / 79         "));
    // The disk's type line shows while its tracks are read, not only once the image is made.
    QVERIFY2(typeLine.startsWith(QStringLiteral("タイプ：2DD(720K)")), qPrintable(typeLine));
    QVERIFY2(typeLine.contains(QStringLiteral("Volume LABEL : ")), qPrintable(typeLine));
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("ユーザー割り込み"));
    QCOMPARE(b.dialogs.records[0].text,
             QStringLiteral("ＫＤＬ作成 ： ユーザー割り込みがありました\n中断しますか?"));
    QVERIFY(b.Work().dialogResult > 0);
    QVERIFY(ReadImage(Path("goes-on.KDL"), Path("check.img")).raw == disk_);
  }

  void cancelDuringCreationStopsItOnYes() {
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    b.Edit("eFname")->setText(Path("stopped.KDL"));
    b.SetDrive(Path("drive.img"));
    QTimer::singleShot(0, &b.form, [&] { b.Button("btnCancel")->click(); });
    b.dialogs.answers = {kdl::Answer::kYes};
    b.form.btnGoClick();
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QCOMPARE(b.Work().dialogResult, -1);
    QVERIFY(!b.form.Busy());
    QVERIFY(!b.form.isVisible());
  }

  void enterMovesThroughTheEditsToTheRunButton() {
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeCreate, 6));
    b.form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&b.form));
    b.Edit("eFname")->setFocus();
    const char* order[] = {"eLabel1", "eLabel2", "eLabel3", "eLabel4"};
    for (const char* name : order) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
      QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(b.Edit(name)));
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(b.Button("btnGo")));
    // Nothing ran on the way: Enter in an edit never presses a button.
    QVERIFY(b.dialogs.records.empty());
    QVERIFY(b.form.isVisible());
  }

  void insideAnArchiveAnExistingFileCanBeChosen() {
    QVERIFY(WriteBytes(Path("given.KDL"), kdlwtest::KdlOf(disk_, {"from the file"})));
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeCreate, kdl::kOpenFirst | kdl::kCloseAfter, "DISK3"));
    QCOMPARE(b.form.Source(), kdlw::TKDIForm::kSourceGiven);
    QCOMPARE(b.Edit("eFname")->text(), QStringLiteral("DISK3"));
    QVERIFY(b.Edit("eFname")->isReadOnly());
    b.dialogs.files = {Path("given.KDL"), Path("drive.img")};
    b.form.btnRefClick();
    QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("カドローン入力"));
    QCOMPARE(b.dialogs.records[0].text, dir_.path());
    QCOMPARE(b.form.Source(), kdlw::TKDIForm::kSourceFile);
    QCOMPARE(b.Edit("eFname")->text(), Path("given.KDL"));
    QCOMPARE(b.Edit("eLabel1")->text(), QStringLiteral("from the file"));
    QVERIFY(b.Edit("eLabel1")->isReadOnly());
    QVERIFY(!b.Work().rawSource);
    QVERIFY(!b.form.findChild<QComboBox*>("cbDrive")->isEnabled());
    // A raw image has no labels of its own: they are typed here.
    b.form.btnRefClick();
    QVERIFY(b.Work().rawSource);
    QCOMPARE(b.Edit("eLabel1")->text(), QString());
    QVERIFY(!b.Edit("eLabel1")->isReadOnly());
  }

  void restoreWritesTheImageOntoAnotherDisk() {
    QVERIFY(WriteBytes(Path("src.KDL"), kdlwtest::KdlOf(disk_, {"label one"})));
    QVERIFY(WriteBytes(Path("target.img"), kdlwtest::BlankDisk(3)));
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeRestore, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    QCOMPARE(b.form.windowTitle(), QStringLiteral("フロッピーディスク再生"));
    QCOMPARE(b.form.findChild<QLabel*>("lblDrive")->text(), QStringLiteral("出力ドライブ　："));
    QCOMPARE(b.Edit("eFname")->text(), Path("src.KDL"));
    QCOMPARE(b.Edit("eLabel1")->text(), QStringLiteral("label one"));
    QVERIFY(b.Edit("eLabel1")->isReadOnly());
    QVERIFY(!b.Check("cbPack")->isEnabled());
    QVERIFY(b.Check("cbVerify")->isEnabled());
    b.SetDrive(Path("target.img"));
    b.form.btnGoClick();
    QCOMPARE(b.Work().dialogResult, 0);
    QVERIFY(ReadBytes(Path("target.img")) == disk_);
    QVERIFY(!b.image.IsOpen());
  }

  void restoreOntoAnotherMediaTypeWritesNothingOnNo() {
    QVERIFY(WriteBytes(Path("src.KDL"), kdlwtest::KdlOf(disk_)));
    const std::vector<uint8_t> other = kdlwtest::BlankDisk(2);
    QVERIFY(WriteBytes(Path("other.img"), other));
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeRestore, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    b.SetDrive(Path("other.img"));
    b.form.btnGoClick();
    QCOMPARE(b.Work().dialogResult, -1);
    QCOMPARE(b.dialogs.records.size(), size_t{1});
    QVERIFY(b.dialogs.records[0].text.startsWith(QStringLiteral("違うタイプのメディアです(")));
    QVERIFY(ReadBytes(Path("other.img")) == other);
  }

  void skipLeavesARestoreSeriesGoingOn() {
    QVERIFY(WriteBytes(Path("src.KDL"), kdlwtest::KdlOf(disk_)));
    Bench b(dir_.path());
    b.Work().dialogResult = -1;
    QVERIFY(b.Open(kdl::kModeRestoreWithSkip, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    QCOMPARE(b.Button("btnCancel")->text(), QStringLiteral("スキップ(&S)"));
    b.form.btnCancelClick();
    QCOMPARE(b.Work().dialogResult, 0);
    QVERIFY(!b.form.isVisible());
  }

  void labelsAreWrittenOnlyWhenChangedAndConfirmed() {
    const QString path = Path("labels.KDL");
    QVERIFY(WriteBytes(path, kdlwtest::KdlOf(disk_, {"first", "ラベル二行目"})));
    const std::vector<uint8_t> original = ReadBytes(path);
    const int32_t flags = kdl::kOpenFirst | kdl::kCloseAfter;
    {
      Bench b(dir_.path());
      QVERIFY(b.Open(kdl::kModeLabels, flags, path));
      QCOMPARE(b.form.windowTitle(), QStringLiteral("カドローンのラベル表示"));
      QCOMPARE(b.Button("btnGo")->text(), QStringLiteral("ＯＫ(&O)"));
      QVERIFY(!b.Button("btnCancel")->isEnabled());
      QCOMPARE(b.Edit("eLabel2")->text(), QStringLiteral("ラベル二行目"));
      QVERIFY(!b.Edit("eLabel2")->isReadOnly());
      b.form.btnGoClick();
      QVERIFY(b.dialogs.records.empty());
      QCOMPARE(b.Work().dialogResult, 0);
      QVERIFY(!b.form.isVisible());
    }
    {
      Bench b(dir_.path());
      QVERIFY(b.Open(kdl::kModeLabels, flags, path));
      b.Edit("eLabel3")->setText("not wanted");
      b.dialogs.answers = {kdl::Answer::kNo};
      b.form.btnGoClick();
      QCOMPARE(b.dialogs.records.size(), size_t{1});
      QCOMPARE(b.Work().dialogResult, 0);
    }
    QVERIFY(ReadBytes(path) == original);
    {
      Bench b(dir_.path());
      QVERIFY(b.Open(kdl::kModeLabels, flags, path));
      b.Edit("eLabel1")->setText(QStringLiteral("書き換えた"));
      b.dialogs.answers = {kdl::Answer::kYes};
      b.form.btnGoClick();
      QCOMPARE(b.dialogs.records[0].caption, QStringLiteral("ＫＤＩ　Ｆｏｒｍ"));
      QCOMPARE(b.dialogs.records[0].text, QStringLiteral("ラベルが変更されています\n更新しますか？"));
      QCOMPARE(b.Work().dialogResult, 1);
      QVERIFY(b.Work().listChanged);
    }
    const ImageContents after = ReadImage(path, Path("check.img"));
    QCOMPARE(after.labels[0], Sjis("書き換えた"));
    QCOMPARE(after.labels[1], Sjis("ラベル二行目"));
    QVERIFY(after.raw == disk_);
    QCOMPARE(ReadBytes(path).size(), original.size());
  }

  void labelsOfAReadOnlyImageCannotBeEdited() {
    if (geteuid() == 0) QSKIP("the superuser opens any file for writing");
    const QString path = Path("readonly.KDL");
    QVERIFY(WriteBytes(path, kdlwtest::KdlOf(disk_, {"fixed"})));
    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
    Bench b(dir_.path());
    QVERIFY(b.Open(kdl::kModeLabels, kdl::kOpenFirst | kdl::kCloseAfter, path));
    QVERIFY(b.Edit("eLabel1")->isReadOnly());
  }

  void rawOutputWritesEveryUnitAndReportsFailure() {
    QVERIFY(WriteBytes(Path("src.KDL"), kdlwtest::KdlOf(disk_)));
    Bench b(dir_.path());
    b.Work().rawImagePath = Path("out.img").toStdString();
    QVERIFY(b.Open(kdl::kModeRawOutput, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    QCOMPARE(b.form.windowTitle(), Path("src.KDL") + QStringLiteral(" -> img FILE"));
    QCOMPARE(b.Edit("eFname")->text(), Path("out.img"));
    QVERIFY(!b.form.findChild<QComboBox*>("cbDrive")->isEnabled());
    b.form.btnGoClick();
    QCOMPARE(b.Work().dialogResult, 0);
    QVERIFY(ReadBytes(Path("out.img")) == disk_);

    b.Work().rawImagePath = Path("no/such/folder/out.img").toStdString();
    QVERIFY(b.Open(kdl::kModeRawOutput, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    b.form.btnGoClick();
    QCOMPARE(b.Work().dialogResult, -1);
    QCOMPARE(b.dialogs.records.size(), size_t{1});
  }

  // Other tools' disk images: raw output writes the format its name asks for, a new image reads one as the
  // drive (offered when it was selected in the main window), and inside an archive one is a disk to read;
  // either way its name is offered as the first label line.
  void otherToolsImagesAreSourcesAndOutputs() {
    // A first label line that fills the D88 name field: it goes out as the name and comes back as the label.
    const QString name = QStringLiteral("ゲーム　ディスク");
    QVERIFY(WriteBytes(Path("src.KDL"), kdlwtest::KdlOf(disk_, {name.toStdString()})));
    Bench b(dir_.path());
    b.Work().rawImagePath = Path("out.d88").toStdString();
    QVERIFY(b.Open(kdl::kModeRawOutput, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    b.Work().listChanged = false;
    b.form.btnGoClick();
    QCOMPARE(b.Work().dialogResult, 0);
    QVERIFY(b.Work().listChanged);  // the main window lists the new file
    const std::vector<uint8_t> d88 = ReadBytes(Path("out.d88"));
    const kdl::ContainerRead read = kdl::DecodeContainer(kdl::ByteView(d88.data(), d88.size()));
    QVERIFY(read.disk);
    QCOMPARE(read.disk->format, kdl::ContainerFormat::kD88);
    QVERIFY(read.disk->bytes == disk_);
    // A format without the disk's geometry is refused with a message, and nothing is written.
    b.Work().rawImagePath = Path("out.hdm").toStdString();
    QVERIFY(b.Open(kdl::kModeRawOutput, kdl::kOpenFirst | kdl::kCloseAfter, Path("src.KDL")));
    b.form.btnGoClick();
    QCOMPARE(b.Work().dialogResult, -1);
    QVERIFY(b.MessageTexts().last().startsWith(QStringLiteral("HDM 形式には")));
    QVERIFY(!QFileInfo::exists(Path("out.hdm")));

    Bench c(dir_.path());
    c.context.work.createSource = Path("out.d88");
    QVERIFY(c.Open(kdl::kModeCreate, 6));
    QCOMPARE(c.form.findChild<QComboBox*>("cbDrive")->currentText(), Path("out.d88"));
    QCOMPARE(c.Edit("eLabel1")->text(), name);
    c.Edit("eFname")->setText("FROMD88");
    c.form.btnGoClick();
    QCOMPARE(c.Work().dialogResult, static_cast<int32_t>(QFileInfo(Path("FROMD88.KDL")).size()));
    const ImageContents made = ReadImage(Path("FROMD88.KDL"), Path("check.img"));
    QVERIFY(made.raw == disk_);
    QCOMPARE(made.labels[0], Sjis("ゲーム　ディスク"));
    // Offered once: the next new image reads the drive the box named before.
    const QString before = Bench(dir_.path()).form.findChild<QComboBox*>("cbDrive")->currentText();
    c.context.work.createSource.clear();
    QVERIFY(c.Open(kdl::kModeCreate, 6));
    QCOMPARE(c.form.findChild<QComboBox*>("cbDrive")->currentText(), before);
    QVERIFY(c.Edit("eLabel1")->text().isEmpty());

    Bench d(dir_.path());
    QVERIFY(d.Open(kdl::kModeCreate, kdl::kOpenFirst | kdl::kCloseAfter, "DISK4"));
    d.dialogs.files = {Path("out.d88")};
    d.form.btnRefClick();
    QCOMPARE(d.form.Source(), kdlw::TKDIForm::kSourceFile);
    QCOMPARE(d.Edit("eFname")->text(), Path("out.d88"));
    QVERIFY(!d.Work().rawSource);
    QVERIFY(!d.Edit("eLabel1")->isReadOnly());
    QCOMPARE(d.Edit("eLabel1")->text(), name);
    QVERIFY(d.Check("cbPack")->isEnabled());
    QVERIFY(!d.form.findChild<QComboBox*>("cbDrive")->isEnabled());
  }

  void anImageThatCannotBeReadEndsTheDialogAtOnce() {
    QVERIFY(WriteBytes(Path("broken.KDL"), std::vector<uint8_t>(300, 'x')));
    Bench b(dir_.path());
    QVERIFY(!b.Open(kdl::kModeRestore, kdl::kOpenFirst | kdl::kCloseAfter, Path("broken.KDL")));
    QCOMPARE(b.Work().dialogResult, -1);
    QCOMPARE(b.dialogs.records.size(), size_t{1});
  }

  void labelEditsHoldFortyShiftJisBytes() {
    kdlw::SjisLengthValidator validator(40, nullptr);
    int position = 0;
    QString ascii(40, QLatin1Char('a'));
    QCOMPARE(validator.validate(ascii, position), QValidator::Acceptable);
    ascii += QLatin1Char('a');
    QCOMPARE(validator.validate(ascii, position), QValidator::Invalid);
    QString wide(20, QChar(u'あ'));
    QCOMPARE(validator.validate(wide, position), QValidator::Acceptable);
    wide += QChar(u'あ');
    QCOMPARE(validator.validate(wide, position), QValidator::Invalid);
    QString notSjis = QStringLiteral("emoji 😀");
    QCOMPARE(validator.validate(notSjis, position), QValidator::Invalid);
  }

  void driveListNamesSettingsLettersThenFloppyDevices() {
    QTemporaryDir sys, dev;
    auto device = [&](const QString& name, const char* removable, qint64 sectors) {
      QDir(sys.path()).mkpath(name);
      if (removable != nullptr) {
        WriteBytes(sys.path() + "/" + name + "/removable", {static_cast<uint8_t>(removable[0]), '\n'});
        const QByteArray size = QByteArray::number(sectors) + "\n";
        WriteBytes(sys.path() + "/" + name + "/size", std::vector<uint8_t>(size.begin(), size.end()));
      }
      WriteBytes(dev.path() + "/" + name, {});
    };
    device("fd0", nullptr, 0);
    device("sda", "0", 2880);      // a fixed disk, whatever its size
    device("sdb", "1", 1440);      // a USB floppy drive holding a 720K disk
    device("sdc", "1", 30000000);  // a memory stick
    device("sr0", "1", 2880);      // an optical drive
    kdl::DriveSettings settings;
    settings.devices.assign(26, {});
    settings.devices[0] = (dev.path() + "/fd0").toStdString();
    settings.devices[2] = Path("drive.img").toStdString();
    QCOMPARE(kdlw::DriveChoices(settings, sys.path(), dev.path()),
             QStringList({"A:  " + dev.path() + "/fd0", "C:  " + Path("drive.img"), dev.path() + "/sdb"}));
    QCOMPARE(kdlw::DriveOperandOf("A:  /dev/fd0"), QStringLiteral("A:"));
    QCOMPARE(kdlw::DriveOperandOf(" /tmp/a b.img "), QStringLiteral("/tmp/a b.img"));
    QCOMPARE(kdlw::DriveOperandOf("C:/odd"), QStringLiteral("C:/odd"));
  }
};

QTEST_MAIN(ImageDialogTest)
#include "kdlw_image_dialog_test.moc"
