// One window per user session, with the real program as the later start:
// its argument reaches the running window, which shows the link's address;
// a socket left by a killed program does not stop a start; and xdg-open
// reaches the window through the desktop entry.
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/qt/application.h"
#include "app/qt/download_settings.h"
#include "app/qt/downloads_window.h"
#include "app/qt/platform_qt.h"
#include "app/qt/single_window.h"
#include "window_test_support.h"

namespace sorrel {

namespace {

const QString kThunder =
    QStringLiteral("thunder://QUFodHRwOi8vMTI3LjAuMC4xOjgwMTcvZGwvYWJjL3JlYWRtZS50eHRaWg==");
const QString kThunderAddress = QStringLiteral("http://127.0.0.1:8017/dl/abc/readme.txt");
const QString kFlashGet = QStringLiteral(
    "flashget://"
    "W0ZMQVNIR0VUXWh0dHA6Ly8xMjcuMC4wLjE6ODAxNy9kbC94eXovbm90ZXMudHh0W0ZMQVNIR0VUXQ==&sorrel");
const QString kFlashGetAddress = QStringLiteral("http://127.0.0.1:8017/dl/xyz/notes.txt");
const QString kClicked =
    QStringLiteral("thunder://QUFodHRwOi8vMTI3LjAuMC4xOjgwMTcvZGwvcS9jbGlja2VkLnR4dFpa");
const QString kClickedAddress = QStringLiteral("http://127.0.0.1:8017/dl/q/clicked.txt");

QString ResultText(Application& program) {
  return test::Controls(program.Window()).result->toPlainText();
}

}  // namespace

class SingleWindowTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir home_;
  QString Runtime() const { return home_.filePath(QStringLiteral("run")); }
  QString Socket() const { return Runtime() + QStringLiteral("/sorrel-resolver.socket"); }

  QProcessEnvironment Environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), Runtime());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
  }

  // Runs `program` to its end, the test's own window answering meanwhile.
  int Run(const QString& program, const QStringList& arguments,
          const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted()) return -1;
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000)) {
      process.kill();
      process.waitForFinished();
      return -2;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -3;
  }

 private slots:
  void init() {
    QVERIFY(home_.isValid());
    QDir(Runtime()).removeRecursively();
    QVERIFY(QDir().mkpath(Runtime()));
    QFile::setPermissions(Runtime(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  void laterStartsHandTheirArgumentToTheFirstWindow() {
    SingleWindow single(Socket());
    QCOMPARE(single.Claim(kThunder), SingleWindow::Start::kFirst);
    Application program(QtPlatformServices(), "http://127.0.0.1:1");
    ServeLaterStarts(single, program);
    OpenHanded(program, kThunder);
    QTRY_VERIFY(ResultText(program).contains(kThunderAddress));

    QCOMPARE(Run(QStringLiteral(SORREL_RESOLVER_BINARY), {kFlashGet}, Environment()), 0);
    QTRY_VERIFY(ResultText(program).contains(kFlashGetAddress));
    QVERIFY(!ResultText(program).contains(kThunderAddress));

    // A start with nothing to open only brings the window to the front.
    QSignalSpy received(&single, &SingleWindow::Received);
    QCOMPARE(Run(QStringLiteral(SORREL_RESOLVER_BINARY), {}, Environment()), 0);
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(0).toString(), QString());
    QVERIFY(ResultText(program).contains(kFlashGetAddress));
    // Off by default: nothing went to a download engine.
    QCOMPARE(program.Downloads(), nullptr);
  }

  void aLinkOpenedFromOutsideGoesToAria2WhenTheUserSaysSo() {
    DownloadSettings settings;
    settings.address = "http://127.0.0.1:1/jsonrpc";
    settings.sendOpenedLinks = true;
    QVERIFY(settings.Save());
    QVERIFY(DownloadSettings::Load().sendOpenedLinks);
    SingleWindow single(Socket());
    QCOMPARE(single.Claim(QString()), SingleWindow::Start::kFirst);
    Application program(QtPlatformServices(), "http://127.0.0.1:1");
    ServeLaterStarts(single, program);
    program.Window().show();
    QCOMPARE(Run(QStringLiteral(SORREL_RESOLVER_BINARY), {kFlashGet}, Environment()), 0);
    QTRY_VERIFY(ResultText(program).contains(kFlashGetAddress));
    QVERIFY(program.Downloads() != nullptr);
    QTRY_COMPARE(program.Downloads()->Table()->rowCount(), 1);
    settings.sendOpenedLinks = false;
    QVERIFY(settings.Save());
  }

  void aSocketLeftByAKilledProgramDoesNotStopAStart() {
    QProcess crashed;
    crashed.setProcessEnvironment(Environment());
    crashed.start(QStringLiteral(SORREL_RESOLVER_BINARY), {});
    QVERIFY(crashed.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Socket()), 20000);
    crashed.kill();
    QVERIFY(crashed.waitForFinished());
    QVERIFY(QFile::exists(Socket()));

    SingleWindow single(Socket());
    QCOMPARE(single.Claim(QString()), SingleWindow::Start::kFirst);
    QSignalSpy received(&single, &SingleWindow::Received);
    SingleWindow later(Socket());
    QCOMPARE(later.Claim(kThunder), SingleWindow::Start::kHandedOver);
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(0).toString(), kThunder);
  }

  void xdgOpenReachesTheRunningWindow() {
    const QString home = home_.filePath(QStringLiteral("home"));
    const QString applications = home + QStringLiteral("/.local/share/applications");
    QVERIFY(QDir().mkpath(applications));
    QVERIFY(QFile::copy(QStringLiteral(SORREL_DESKTOP_FILE),
                        applications + QStringLiteral("/sorrel-resolver.desktop")));
    QProcessEnvironment environment = Environment();
    for (const char* name :
         {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
          "XDG_DATA_HOME", "XDG_CONFIG_HOME", "BROWSER"}) {
      environment.remove(QString::fromLatin1(name));
    }
    environment.insert(QStringLiteral("HOME"), home);
    // xdg-open hands links to scheme handlers only in a graphical session;
    // the program itself stays on the offscreen platform.
    if (!environment.contains(QStringLiteral("DISPLAY"))) {
      environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
    }
    environment.insert(QStringLiteral("PATH"),
                       QFileInfo(QStringLiteral(SORREL_RESOLVER_BINARY)).path() + QLatin1Char(':') +
                           environment.value("PATH"));
    QCOMPARE(Run(QStringLiteral("xdg-mime"),
                 {QStringLiteral("default"), QStringLiteral("sorrel-resolver.desktop"),
                  QStringLiteral("x-scheme-handler/thunder")},
                 environment),
             0);

    SingleWindow single(Socket());
    QCOMPARE(single.Claim(QString()), SingleWindow::Start::kFirst);
    Application program(QtPlatformServices(), "http://127.0.0.1:1");
    ServeLaterStarts(single, program);
    program.Window().show();
    QCOMPARE(Run(QStringLiteral("xdg-open"), {kClicked}, environment), 0);
    QTRY_VERIFY(ResultText(program).contains(kClickedAddress));
  }
};

}  // namespace sorrel

// The user's settings are the test's own.
int main(int argc, char** argv) {
  return sorrel::test::RunWithOwnFolders<sorrel::SingleWindowTest>(argc, argv);
}
#include "single_window_test.moc"
