#include "kdlw/browse/view_form.h"

#include <QCloseEvent>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "archive/archive.h"
#include "image/listing.h"
#include "kdlw/archive/not_archive.h"
#include "kdlw/common/fonts.h"
#include "kdlw/common/placement.h"
#include "kdlw/common/tool_button.h"
#include "kdlw/image/form_support.h"

namespace kdlw {
namespace {

const QString kCloseCaption = QStringLiteral("閉じる(&E)");
const QString kStopCaption = QStringLiteral("中断");
const QString kTitle = QStringLiteral("ViewForm");
const QString kPartialMark = QStringLiteral("  （中断・一部のみ表示）");
// Ctrl+B scrolls the last line up to this many lines from the top of the view.
constexpr int kEndMargin = 20;

QString JoinLines(const QStringList& lines) { return lines.join(QLatin1Char('\n')); }

}  // namespace

TViewForm::TViewForm(AppContext& context, kdl::ImageState& image, QWidget* parent)
    : QDialog(parent), context_(context), image_(image) {
  setObjectName(QStringLiteral("ViewForm"));
  setWindowTitle(kTitle);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                 Qt::WindowCloseButtonHint);
  setFont(JapaneseUiFont(12));
  resize(600, 430);

  panel1_ = new QWidget(this);
  panel1_->setObjectName(QStringLiteral("Panel1"));
  sbFont_ = MakeToolButton(panel1_, "sbFont", QStringLiteral("Font(&F)"),
                           QStringLiteral("表示フォントを変更します"));
  sbClose_ = MakeToolButton(panel1_, "sbClose", kCloseCaption, QStringLiteral("このフォームを終了します"));
  pbFile_ = new QProgressBar(panel1_);
  pbFile_->setObjectName(QStringLiteral("pbFile"));
  pbFile_->setRange(0, 100);
  pbFile_->setValue(0);
  pbFile_->setTextVisible(false);
  auto* row = new QHBoxLayout(panel1_);
  row->setContentsMargins(4, 4, 4, 4);
  row->addWidget(sbFont_);
  row->addWidget(sbClose_);
  row->addWidget(pbFile_, 1);

  reView_ = new QPlainTextEdit(this);
  reView_->setObjectName(QStringLiteral("reView"));
  reView_->setReadOnly(true);
  reView_->setLineWrapMode(QPlainTextEdit::NoWrap);
  reView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  reView_->setFont(JapaneseFixedFont(13));
  // Read-only text still shows where the caret is, so that Ctrl+B can measure from it.
  reView_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  sbFile_ = MakeSimpleStatusBar(this, "sbFile");

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(panel1_);
  column->addWidget(reView_, 1);
  column->addWidget(sbFile_);

  chooseFont = [](QWidget* owner, const QFont& current) -> std::optional<QFont> {
    bool ok = false;
    const QFont font = QFontDialog::getFont(&ok, current, owner);
    return ok ? std::optional<QFont>(font) : std::nullopt;
  };
  connect(sbClose_, &QToolButton::clicked, this, &TViewForm::sbCloseClick);
  connect(sbFont_, &QToolButton::clicked, this, &TViewForm::sbFontClick);
  keys_ = new KeyPreview(this, [this](QKeyEvent* key, QWidget* target) { return HandleKey(key, target); });
}

TViewForm::~TViewForm() = default;

void TViewForm::SetFile(const kdl::DirectoryTable* table, size_t index, kdl::ViewMode mode) {
  table_ = table;
  index_ = index;
  mode_ = mode;
}

void TViewForm::Run(QWidget* owner) {
  Prepare();
  PlaceOver(this, owner);
  QTimer::singleShot(0, this, &TViewForm::Fill);
  exec();
}

void TViewForm::Prepare() {
  context_.work.image.busy = false;
  context_.work.image.cancelRequested = false;
  setWindowTitle(kTitle);
  sbClose_->setText(kStopCaption);
  sbClose_->setEnabled(true);
  sbFile_->clearMessage();
  reView_->clear();
  // The scrolling keys work on the text from the start.
  reView_->setFocus();
}

void TViewForm::Fill() {
  filling_ = true;
  switch (context_.work.viewerMode) {
    case kViewerFile:
      FillFileView();
      break;
    case kViewerImageListing:
      FillListing(false);
      break;
    case kViewerArchiveReport:
      FillListing(true);
      break;
    default:
      break;
  }
  sbClose_->setText(kCloseCaption);
  sbClose_->setEnabled(true);
  filling_ = false;
}

void TViewForm::FillFileView() {
  setWindowTitle(kTitle);
  if (table_ == nullptr || index_ >= table_->size()) return;
  QStringList lines;
  kdl::FileViewResult result;
  {
    ProgressScope progress(context_.prompter, pbFile_, sbFile_);
    result = kdl::FillFileView(image_, *table_, index_, mode_, [&](std::string_view line) {
      lines << QString::fromStdString(kdl::ViewLineToUtf8(line, mode_));
    });
  }
  // Lines are added in one go: the text control lays out once instead of once per line.
  reView_->setPlainText(JoinLines(lines));
  CaretToStart();
  pbFile_->setValue(0);
  QString title = kTitle + QStringLiteral(" : ") + FromUtf8(result.status);
  // A view stopped with "中断" must not pass for the whole file.
  if (result.stopped) {
    title += kPartialMark;
    sbFile_->showMessage(QStringLiteral("読込を中断しました : %1 行目までを表示しています")
                             .arg(static_cast<qulonglong>(result.lines)));
  }
  setWindowTitle(title);
}

void TViewForm::FillListing(bool archive) {
  kdl::ImageWork& work = context_.work.image;
  sbClose_->setText(kCloseCaption);
  reView_->clear();
  sbClose_->setEnabled(false);
  QStringList lines;
  {
    ProgressScope progress(context_.prompter, pbFile_, sbFile_);
    if (archive) {
      setWindowTitle(FromUtf8(context_.work.archive.path) + QStringLiteral(" : TEST"));
      const int messages = context_.prompter.MessagesShown();
      if (kdl::ArchiveReport(context_.work.archive, image_, work.openCloseFlags,
                             [&](const std::string& line) { lines << FromUtf8(line); }) < 0) {
        SayIfNotAnArchive(context_, messages, context_.work.archive.path, this);
      }
    } else {
      setWindowTitle(FromUtf8(work.currentImagePath) + QStringLiteral(" : TEST"));
      std::vector<std::string> listing;
      const kdl::ArchiveImageInfo info = kdl::CurrentImageInfo(context_.work.archive);
      kdl::ListImageInfo(image_, listing, work.openCloseFlags, work.baseOffset != 0 ? &info : nullptr);
      for (const std::string& line : listing) lines << FromUtf8(line);
    }
  }
  reView_->setPlainText(JoinLines(lines));
  CaretToStart();
}

void TViewForm::sbCloseClick() {
  if (filling_) {
    context_.work.image.cancelRequested = true;
    return;
  }
  close();
}

void TViewForm::sbFontClick() {
  if (!chooseFont) return;
  if (const std::optional<QFont> font = chooseFont(this, reView_->font())) reView_->setFont(*font);
}

bool TViewForm::HandleKey(QKeyEvent* key, QWidget* target) {
  if (key->key() == Qt::Key_Escape) {
    sbCloseClick();
    return true;
  }
  if (target != reView_ || !(key->modifiers() & Qt::ControlModifier)) return false;
  return ScrollKey(key->key());
}

bool TViewForm::ScrollKey(int key) {
  QScrollBar* vertical = reView_->verticalScrollBar();
  QScrollBar* horizontal = reView_->horizontalScrollBar();
  const int character = reView_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
  switch (key) {
    case Qt::Key_E:
      vertical->setValue(vertical->value() - 1);
      break;
    case Qt::Key_X:
      vertical->setValue(vertical->value() + 1);
      break;
    case Qt::Key_R:
      vertical->setValue(vertical->value() - vertical->pageStep());
      break;
    // Ctrl+C pages down here; the text is read-only and copying goes through the mouse selection.
    case Qt::Key_C:
      vertical->setValue(vertical->value() + vertical->pageStep());
      break;
    case Qt::Key_S:
      horizontal->setValue(horizontal->value() - character);
      break;
    case Qt::Key_D:
      horizontal->setValue(horizontal->value() + character);
      break;
    case Qt::Key_T:
      CaretToStart();
      return true;
    case Qt::Key_B: {
      const int lines = reView_->blockCount();
      const int caretLine = reView_->textCursor().blockNumber();
      // A window showing fewer lines than the margin still gets the end into view.
      const int margin = std::min(kEndMargin, vertical->pageStep());
      vertical->setValue(vertical->value() + lines - caretLine - margin);
      break;
    }
    default:
      return false;
  }
  SetCursor();
  return true;
}

void TViewForm::SetCursor() {
  const int vertical = reView_->verticalScrollBar()->value();
  const int horizontal = reView_->horizontalScrollBar()->value();
  reView_->setTextCursor(reView_->cursorForPosition(QPoint(0, 0)));
  // Putting the caret on the first visible line must not move the view.
  reView_->verticalScrollBar()->setValue(vertical);
  reView_->horizontalScrollBar()->setValue(horizontal);
}

void TViewForm::CaretToStart() {
  reView_->moveCursor(QTextCursor::Start);
  reView_->ensureCursorVisible();
  reView_->horizontalScrollBar()->setValue(0);
}

void TViewForm::done(int result) {
  if (filling_) return;
  reView_->clear();
  QDialog::done(result);
}

void TViewForm::closeEvent(QCloseEvent* event) {
  if (filling_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

bool TViewForm::event(QEvent* event) {
  if (ShowHint(event, sbFile_)) return true;
  return QDialog::event(event);
}

}  // namespace kdlw
