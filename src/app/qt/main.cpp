#include <QApplication>

#include "app/qt/application.h"
#include "app/qt/platform_qt.h"
#include "resolve/service_origin.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sorrel-resolver"));
  int code = 0;
  {
    sorrel::Application program(sorrel::QtPlatformServices(), sorrel::ServiceOrigin());
    program.Window().show();
    program.WarmAfterFirstPaint();
    code = QApplication::exec();
  }
  return code;
}
