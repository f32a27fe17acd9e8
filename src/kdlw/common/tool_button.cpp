#include "kdlw/common/tool_button.h"

namespace kdlw {

QToolButton* MakeToolButton(QWidget* panel, const char* name, const QString& caption, const QString& hint) {
  auto* button = new QToolButton(panel);
  button->setObjectName(QString::fromLatin1(name));
  button->setText(caption);
  button->setStatusTip(hint);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setMinimumSize(72, 25);
  // Speed buttons act on the window's list and never take the keyboard from it.
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace kdlw
