// The result box's right-click menu: the three addresses to the clipboard,
// the normal one to aria2 or checked, and the download settings.
#pragma once

#include <QObject>
#include <QPoint>
#include <memory>

class QMenu;

namespace sorrel {

class DownloadsWindow;
class MainWindow;
class Program;

class ResultMenu : public QObject {
  Q_OBJECT

 public:
  ResultMenu(MainWindow& window, Program& program);
  ~ResultMenu() override;

  // The menu as a right click opens it, at `position` in the result box.
  QMenu* Open(const QPoint& position);
  DownloadsWindow* Downloads() const { return downloads_.get(); }
  // The resolved normal address to the engine, as the menu item does.
  void SendToAria2();

 private:
  void Check();
  void ShowCheck(int status, const QString& name, qint64 size);
  void EditSettings();

  MainWindow& window_;
  Program& program_;
  std::unique_ptr<DownloadsWindow> downloads_;
  bool checking_ = false;
};

}  // namespace sorrel
