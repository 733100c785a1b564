// Reports the first paint of a window on standard output ("painted"), then
// lets the event loop run a little longer so that the process reaches its
// settled memory use, and quits.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <cstdio>

namespace sorrel::bench {

class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      std::fputs("painted\n", stdout);
      std::fflush(stdout);
      QTimer::singleShot(300, [] { QApplication::quit(); });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool painted_ = false;
};

}  // namespace sorrel::bench
