#include "kdlw/components/system_menu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenuBar>
#include <QWidget>
#include <QWindow>

namespace kdlw {

TSystemMenu::TSystemMenu(QWidget* form) : QObject(form), form_(form) {
  if (form == nullptr || !form->isWindow()) throw ESystemMenuError("Owner must be a form");
}

QAction* TSystemMenu::AddItem(const QString& caption, std::function<void()> onClick) {
  // A separator carries no text: some styles would draw it.
  const bool separator = caption == QLatin1String("-");
  auto* action = new QAction(separator ? QString() : caption, this);
  if (separator) {
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

QMenu* TSystemMenu::AddToMenuBar(QMenuBar* bar, const QString& title) {
  QMenu* entry = bar->addMenu(title);
  connect(entry, &QMenu::aboutToShow, this, [this, entry] { Fill(*entry); });
  // Filled at once as well, so that its items can be found before it first opens.
  Fill(*entry);
  return entry;
}

QMenu* TSystemMenu::Menu() {
  Fill(menu_);
  return &menu_;
}

void TSystemMenu::Popup(const QPoint& globalPosition) { Menu()->popup(globalPosition); }

void TSystemMenu::Fill(QMenu& menu) {
  menu.clear();
  const Qt::WindowStates state = form_->windowState();
  const bool normal = !(state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
  auto add = [this, &menu](const QString& text, bool enabled, auto slot) {
    QAction* action = menu.addAction(text);
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
    menu.addSeparator();
    QAction* close = add(QStringLiteral("閉じる(&C)"), true, [this] { form_->close(); });
    close->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  }
  menu.addActions(items_);
}

}  // namespace kdlw
