// The program's own start-up (as in its main), reporting its first paint.
#include <QApplication>

#include "app/qt/application.h"
#include "bench/first_paint.h"
#include "http/curl_stack_module.h"
#include "resolve/service_origin.h"
#include "support/windows_qt.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sorrel-resolver"));
  static auto* stack = new sorrel::LoadedCurlStack();
  sorrel::QtWindowSystem windows;
  sorrel::bench::FirstPaint firstPaint;
  int code = 0;
  {
    sorrel::Application program(*stack, windows, sorrel::ServiceOrigin());
    program.Window().installEventFilter(&firstPaint);
    program.Window().show();
    code = QApplication::exec();
  }
  return code;
}
