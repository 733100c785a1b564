// The program's own start-up (as in its main), reporting its first paint.
#include <QApplication>

#include "app/engines.h"
#include "app/qt/application.h"
#include "bench/first_paint.h"
#include "resolve/service_origin.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sorrel-resolver"));
  sorrel::bench::FirstPaint firstPaint;
  int code = 0;
  {
    sorrel::Application program(sorrel::PlatformEngines(), sorrel::ServiceOrigin());
    program.Window().installEventFilter(&firstPaint);
    program.Window().show();
    program.WarmAfterFirstPaint();
    code = QApplication::exec();
  }
  return code;
}
