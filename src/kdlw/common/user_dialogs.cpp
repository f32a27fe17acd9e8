#include "kdlw/common/user_dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace kdlw {
namespace {

QMessageBox::Icon ToQtIcon(kdl::Icon icon) {
  switch (icon) {
    case kdl::Icon::kStop:
      return QMessageBox::Critical;
    case kdl::Icon::kQuestion:
      return QMessageBox::Question;
    case kdl::Icon::kExclamation:
      return QMessageBox::Warning;
    case kdl::Icon::kInformation:
      return QMessageBox::Information;
    case kdl::Icon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

struct ButtonDef {
  QMessageBox::StandardButton button;
  kdl::Answer answer;
  const char* text;
};

constexpr ButtonDef kOk{QMessageBox::Ok, kdl::Answer::kOk, "OK"};
constexpr ButtonDef kYes{QMessageBox::Yes, kdl::Answer::kYes, "はい(&Y)"};
constexpr ButtonDef kNo{QMessageBox::No, kdl::Answer::kNo, "いいえ(&N)"};
constexpr ButtonDef kCancel{QMessageBox::Cancel, kdl::Answer::kCancel, "キャンセル"};
constexpr ButtonDef kRetry{QMessageBox::Retry, kdl::Answer::kRetry, "再試行(&R)"};
constexpr ButtonDef kAbort{QMessageBox::Abort, kdl::Answer::kAbort, "中止(&A)"};
constexpr ButtonDef kIgnore{QMessageBox::Ignore, kdl::Answer::kIgnore, "無視(&I)"};

// The buttons of each set in their usual order; the first is the default.
std::vector<ButtonDef> ButtonsOf(kdl::Buttons buttons) {
  switch (buttons) {
    case kdl::Buttons::kOk:
      return {kOk};
    case kdl::Buttons::kYesNo:
      return {kYes, kNo};
    case kdl::Buttons::kRetryCancel:
      return {kRetry, kCancel};
    case kdl::Buttons::kAbortRetryIgnore:
      return {kAbort, kRetry, kIgnore};
    case kdl::Buttons::kYesNoCancel:
      return {kYes, kNo, kCancel};
  }
  return {kOk};
}

}  // namespace

kdl::Answer QtUserDialogs::Message(QWidget* parent, const QString& caption, const QString& text,
                                   kdl::Buttons buttons, kdl::Icon icon) {
  QMessageBox box(ToQtIcon(icon), caption, text, QMessageBox::NoButton, parent);
  const std::vector<ButtonDef> defs = ButtonsOf(buttons);
  QPushButton* last = nullptr;
  for (const ButtonDef& def : defs) {
    last = box.addButton(def.button);
    last->setText(QString::fromUtf8(def.text));
  }
  box.setDefaultButton(defs.front().button);
  // Esc and the close box stand for the last button (No, Cancel), or for Abort.
  box.setEscapeButton(buttons == kdl::Buttons::kAbortRetryIgnore ? box.button(defs.front().button) : last);
  box.exec();
  const QMessageBox::StandardButton chosen = box.standardButton(box.clickedButton());
  for (const ButtonDef& def : defs) {
    if (def.button == chosen) return def.answer;
  }
  return buttons == kdl::Buttons::kAbortRetryIgnore ? kdl::Answer::kAbort : defs.back().answer;
}

std::optional<QString> QtUserDialogs::InputText(QWidget* parent, const QString& caption,
                                                const QString& prompt, const QString& initial) {
  QInputDialog dialog(parent);
  dialog.setWindowTitle(caption);
  dialog.setLabelText(prompt);
  dialog.setTextValue(initial);
  dialog.setOkButtonText(QStringLiteral("OK"));
  dialog.setCancelButtonText(QStringLiteral("キャンセル"));
  // Paths are long; give the line room to show one whole.
  dialog.resize(qMax(dialog.sizeHint().width(), 480), dialog.sizeHint().height());
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue();
}

QString QtUserDialogs::OpenFileName(QWidget* parent, const QString& title, const QString& folder,
                                    const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, folder, filter);
}

QString QtUserDialogs::SaveFileName(QWidget* parent, const QString& title, const QString& folder,
                                    const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, folder, filter);
}

}  // namespace kdlw
