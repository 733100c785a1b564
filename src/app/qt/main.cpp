#include <QApplication>
#include <QTimer>

#include "app/engines.h"
#include "app/qt/application.h"
#include "app/qt/single_window.h"
#include "resolve/service_origin.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("sorrel-resolver"));
  const QString argument = sorrel::HandedArgument(QApplication::arguments());
  sorrel::SingleWindow single;
  if (single.Claim(argument) == sorrel::SingleWindow::Start::kHandedOver) return 0;
  int code = 0;
  {
    sorrel::Application program(sorrel::PlatformEngines(), sorrel::ServiceOrigin());
    sorrel::ServeLaterStarts(single, program);
    program.Window().show();
    program.WarmAfterFirstPaint();
    // Opened from the event loop, once the window is up.
    QTimer::singleShot(0, &program.Window(),
                       [&program, argument] { sorrel::OpenHanded(program, argument); });
    code = QApplication::exec();
  }
  return code;
}
