#include <QApplication>

#include "app/qt/application.h"
#include "http/curl_stack_module.h"
#include "resolve/service_origin.h"
#include "support/windows_qt.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sorrel-resolver"));
  // Request workers abandoned at a time-out may still be using the stack
  // while the process ends, so it is never destroyed.
  static auto* stack = new sorrel::LoadedCurlStack();
  sorrel::QtWindowSystem windows;
  int code = 0;
  {
    sorrel::Application program(*stack, windows, sorrel::ServiceOrigin());
    program.Window().show();
    code = QApplication::exec();
  }
  return code;
}
