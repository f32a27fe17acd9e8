#include "kdlw/components/system_menu.h"

#include <QAction>
#include <QKeySequence>
#include <QShortcut>
#include <QWidget>
#include <QWindow>

namespace kdlw {

TSystemMenu::TSystemMenu(QWidget* form) : QObject(form), form_(form) {
  if (form == nullptr || !form->isWindow()) throw ESystemMenuError("Owner must be a form");
  auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), form_);
  connect(shortcut, &QShortcut::activated, this, [this] { Popup(form_->mapToGlobal(QPoint(0, 0))); });
}

QAction* TSystemMenu::AddItem(const QString& caption, std::function<void()> onClick) {
  auto* action = new QAction(caption, this);
  if (caption == QLatin1String("-")) {
    action->setSeparator(true);
  } else if (onClick) {
    connect(action, &QAction::triggered, this, [onClick = std::move(onClick)] { onClick(); });
  }
  items_.push_back(action);
  return action;
}

void TSystemMenu::AttachTo(QWidget* area) {
  area->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(area, &QWidget::customContextMenuRequested, this,
          [this, area](const QPoint& pos) { Popup(area->mapToGlobal(pos)); });
}

QMenu* TSystemMenu::Menu() {
  Rebuild();
  return &menu_;
}

void TSystemMenu::Popup(const QPoint& globalPosition) { Menu()->popup(globalPosition); }

void TSystemMenu::Rebuild() {
  menu_.clear();
  const Qt::WindowStates state = form_->windowState();
  const bool normal = !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
  auto add = [this](const QString& text, bool enabled, auto slot) {
    QAction* action = menu_.addAction(text);
    action->setEnabled(enabled);
    connect(action, &QAction::triggered, form_, slot);
    return action;
  };
  if (enabled_ & scRestore)
    add(QStringLiteral("元のサイズに戻す(&R)"), !normal, [this] { form_->showNormal(); });
  if (enabled_ & scMove) {
    add(QStringLiteral("移動(&M)"), normal, [this] {
      if (QWindow* w = form_->windowHandle()) w->startSystemMove();
    });
  }
  if (enabled_ & scSize) {
    add(QStringLiteral("サイズ変更(&S)"), normal, [this] {
      if (QWindow* w = form_->windowHandle()) w->startSystemResize(Qt::RightEdge | Qt::BottomEdge);
    });
  }
  if (enabled_ & scMinimize) {
    add(QStringLiteral("最小化(&N)"), !(state & Qt::WindowMinimized), [this] { form_->showMinimized(); });
  }
  if (enabled_ & scMaximize) {
    add(QStringLiteral("最大化(&X)"), !(state & Qt::WindowMaximized), [this] { form_->showMaximized(); });
  }
  if (enabled_ & scClose) {
    menu_.addSeparator();
    QAction* close = add(QStringLiteral("閉じる(&C)"), true, [this] { form_->close(); });
    close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  }
  menu_.addActions(items_);
}

}  // namespace kdlw
