// One window per user session, with the real program as the later start:
// its argument reaches the running window, which shows the link's address;
// a socket left by a killed program does not stop a start; xdg-open
// reaches the window through the desktop entry; and no other user's
// program hears or tells a link.
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QLocalServer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "app/engines.h"
#include "app/qt/application.h"
#include "app/qt/download_settings.h"
#include "app/qt/downloads_window.h"
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

// In a child process running as nobody: connects to `path` and sends
// `text`, or with an empty text listens at `path` and writes what the
// first caller sends to `report`. Returns the child's id.
pid_t AsAnotherUser(const QString& path, const QByteArray& text, int report = -1) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray name = QFile::encodeName(path);
  std::copy(name.begin(), name.end(), address.sun_path);
  const pid_t child = fork();
  if (child != 0) return child;
  if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  auto* where = reinterpret_cast<sockaddr*>(&address);
  if (!text.isEmpty()) {
    if (connect(fd, where, sizeof address) != 0) _exit(3);
    if (write(fd, text.constData(), static_cast<size_t>(text.size())) < 0) _exit(4);
    _exit(0);
  }
  alarm(20);
  if (bind(fd, where, sizeof address) != 0 || listen(fd, 4) != 0) _exit(5);
  const int caller = accept(fd, nullptr, nullptr);
  char buffer[512];
  const ssize_t n = caller >= 0 ? read(caller, buffer, sizeof buffer) : -1;
  if (n > 0 && write(report, buffer, static_cast<size_t>(n)) < 0) _exit(6);
  _exit(0);
}

int ExitOf(pid_t child) {
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    Application program(PlatformEngines(), "http://127.0.0.1:1");
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
    Application program(PlatformEngines(), "http://127.0.0.1:1");
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

  void aListenerInTheSharedTemporaryFolderNeverGetsTheLink() {
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray temp = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(shared.path()));
    // Qt's own fallback runtime folder cannot be made there either.
    QFile blocker(shared.filePath(QStringLiteral("runtime-") +
                                  QString::fromLocal8Bit(getpwuid(geteuid())->pw_name)));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    QLocalServer listener;
    QVERIFY(listener.listen(shared.filePath(QStringLiteral("sorrel-resolver.socket"))));

    SingleWindow single;
    const SingleWindow::Start start = single.Claim(kThunder);
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", temp);
    QCOMPARE(start, SingleWindow::Start::kFirst);
    QTest::qWait(200);
    QVERIFY(!listener.hasPendingConnections());
    // The socket went to a folder of the user's own that nobody else enters.
    const QString own = shared.filePath(QStringLiteral("sorrel-resolver-%1").arg(geteuid()));
    QVERIFY(QFile::exists(own + QStringLiteral("/sorrel-resolver.socket")));
    struct stat info {};
    QCOMPARE(lstat(QFile::encodeName(own).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0700u);
    QCOMPARE(info.st_uid, geteuid());
  }

  void anotherUsersProgramNeitherHearsNorTellsALink() {
    if (geteuid() != 0) QSKIP("acting as another user needs root");
    QTemporaryDir open;
    QVERIFY(open.isValid());
    // A folder everyone may use, as a runtime folder never is.
    QVERIFY(chmod(QFile::encodeName(open.path()).constData(), 01777) == 0);
    const QString ours = open.filePath(QStringLiteral("ours.socket"));
    SingleWindow single(ours);
    QCOMPARE(single.Claim(QString()), SingleWindow::Start::kFirst);
    QVERIFY(chmod(QFile::encodeName(ours).constData(), 0777) == 0);
    QSignalSpy received(&single, &SingleWindow::Received);
    const pid_t caller = AsAnotherUser(ours, kThunder.toUtf8());
    QTest::qWait(300);
    QCOMPARE(ExitOf(caller), 0);
    QTest::qWait(200);
    QCOMPARE(received.size(), 0);

    int report[2];
    QVERIFY(pipe(report) == 0);
    const QString theirs = open.filePath(QStringLiteral("theirs.socket"));
    const pid_t listener = AsAnotherUser(theirs, {}, report[1]);
    close(report[1]);
    QTRY_VERIFY(QFile::exists(theirs));
    SingleWindow later(theirs);
    QCOMPARE(later.Claim(kFlashGet), SingleWindow::Start::kFirst);
    QCOMPARE(ExitOf(listener), 0);
    char heard[512];
    QCOMPARE(read(report[0], heard, sizeof heard), ssize_t{0});
    close(report[0]);
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
    Application program(PlatformEngines(), "http://127.0.0.1:1");
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
