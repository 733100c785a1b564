// The result box's right-click menu, drawn from the items the window logic
// lists: opened by a right click, the Menu key or Shift+F10 in the box.
#pragma once

#include <QObject>
#include <QPoint>

class QMenu;

namespace sorrel {

class MainWindow;
class WindowController;

class ResultMenu : public QObject {
  Q_OBJECT

 public:
  ResultMenu(MainWindow& window, WindowController& controller);

  // The menu at `position` in the result box's viewport.
  QMenu* Open(const QPoint& position);
  // The resolved normal address to the engine, as the menu item does.
  void SendToAria2();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  MainWindow& window_;
  WindowController& controller_;
};

}  // namespace sorrel
