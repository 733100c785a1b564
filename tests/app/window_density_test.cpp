// The window on a screen of device pixel ratio 2: the layout keeps its
// logical places and the captcha is drawn in whole blocks, never blurred.
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QTest>

#include "app/engines.h"
#include "app/qt/application.h"

namespace sorrel {

class WindowDensityTest : public QObject {
  Q_OBJECT

 private slots:
  void captchaIsDrawnInWholeBlocks() {
    Application program(PlatformEngines(), "http://svc.example");
    MainWindow& window = program.Window();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.devicePixelRatioF(), 2.0);

    // Neighbouring pixels as far apart as they go: any smoothing shows.
    QImage captcha(13, 7, QImage::Format_RGB32);
    for (int y = 0; y < captcha.height(); ++y) {
      for (int x = 0; x < captcha.width(); ++x) {
        captcha.setPixel(x, y, (x + y) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255 - 30 * x, 20 * y));
      }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(captcha.save(&buffer, "PNG"));
    program.Controller().SetPicture(ByteSet(png.begin(), png.end()));

    const QImage shot = window.grab().toImage();
    QCOMPARE(shot.size(), window.size() * 2);
    const QRect box = window.Control("PicBox1")->geometry();
    QCOMPARE(box, QRect(40, 72, 200, 105));
    for (int y = 0; y < captcha.height(); ++y) {
      for (int x = 0; x < captcha.width(); ++x) {
        for (int dy = 0; dy < 2; ++dy) {
          for (int dx = 0; dx < 2; ++dx) {
            const QPoint at(2 * (box.left() + x) + dx, 2 * (box.top() + y) + dy);
            QVERIFY2(shot.pixel(at) == captcha.pixel(x, y),
                     qPrintable(QString("pixel %1,%2 block %3,%4").arg(x).arg(y).arg(dx).arg(dy)));
          }
        }
      }
    }
    // The box reads back the picture as the service sent it.
    QCOMPARE(program.Controller().Picture().size(), static_cast<size_t>(png.size()));
  }
};

}  // namespace sorrel

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  sorrel::WindowDensityTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_density_test.moc"
