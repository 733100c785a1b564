// The download settings dialog warns while the engine's address would carry
// the secret across the network unencrypted.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "app/qt/download_settings.h"

namespace sorrel {

class DownloadSettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void warnsOfAPlainAddressBeyondThisMachine() {
    DownloadSettingsDialog dialog({"http://192.0.2.1:6800/jsonrpc", {}, {}, false});
    dialog.show();
    auto* address = dialog.findChild<QLineEdit*>("Aria2Address");
    auto* warning = dialog.findChild<QLabel*>("Aria2AddressInClear");
    QVERIFY(address != nullptr && warning != nullptr);
    QVERIFY(warning->isVisible());
    QCOMPARE(warning->text(),
             QString::fromUtf8(
                 "这个 aria2 地址不加密（http://），RPC 密钥和下载地址会以明文经过网络。"));
    const struct {
      const char* text;
      bool warned;
    } cases[] = {
        {"https://192.0.2.1:6800/jsonrpc", false},  {"http://127.0.0.1:6800/jsonrpc", false},
        {"http://localhost:6800/jsonrpc", false},   {"", false},
        {"http://nas:6800/jsonrpc", true},          {"HTTP://[2001:db8::1]:6800/jsonrpc", true},
        {" http://192.0.2.1:6800/jsonrpc\t", true},
    };
    for (const auto& c : cases) {
      address->setText(QString::fromUtf8(c.text));
      QVERIFY2(warning->isVisible() == c.warned, c.text);
    }
  }
};

}  // namespace sorrel

QTEST_MAIN(sorrel::DownloadSettingsTest)
#include "download_settings_test.moc"
