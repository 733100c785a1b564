#include "app/qt/result_menu.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>

#include "app/qt/main_window.h"
#include "app/window_controller.h"

namespace sorrel {

namespace {

QPlainTextEdit* Box(MainWindow& window) {
  return qobject_cast<QPlainTextEdit*>(window.Control(ControlRole::kResultBox));
}

}  // namespace

ResultMenu::ResultMenu(MainWindow& window, WindowController& controller)
    : window_(window), controller_(controller) {
  QPlainTextEdit* box = Box(window);
  box->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(box, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { Open(at); });
  box->installEventFilter(this);
  box->viewport()->installEventFilter(this);
}

bool ResultMenu::eventFilter(QObject* watched, QEvent* event) {
  // The keys open the menu at the text cursor; a context menu event the
  // platform makes of the same keys would open it twice.
  if (event->type() == QEvent::ContextMenu) {
    return static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard;
  }
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  const bool menuKey = key->key() == Qt::Key_Menu ||
                       (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
  if (!menuKey) return false;
  if (!key->isAutoRepeat()) Open(Box(window_)->cursorRect().bottomLeft());
  return true;
}

QMenu* ResultMenu::Open(const QPoint& position) {
  QPlainTextEdit* box = Box(window_);
  auto* menu = new QMenu(box);
  menu->setObjectName("ResultMenu");
  menu->setAttribute(Qt::WA_DeleteOnClose);
  for (const ResultMenuItem& item : controller_.ResultMenu()) {
    if (item.separated) menu->addSeparator();
    QAction* action = menu->addAction(QString::fromStdU16String(item.text), this,
                                      [this, chosen = item.action] { controller_.Choose(chosen); });
    action->setEnabled(item.enabled);
  }
  menu->popup(box->viewport()->mapToGlobal(position));
  return menu;
}

void ResultMenu::SendToAria2() { controller_.Choose(ResultAction::kSendToAria2); }

}  // namespace sorrel
