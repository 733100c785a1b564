// The settings file holds the engine's secret: it is made private, and one
// that is a link or another user's is neither read nor written.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTest>

#include "app/qt/download_settings.h"
#include "window_test_support.h"

namespace sorrel {

class DownloadSettingsTest : public QObject {
  Q_OBJECT

 private:
  static QString File() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "sorrel-resolver",
                     "sorrel-resolver")
        .fileName();
  }
  static QString Folder() { return QFileInfo(File()).path(); }
  static mode_t Mode(const QString& path) {
    struct stat info {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 0777 : 0;
  }
  static DownloadSettings Sample() {
    DownloadSettings settings;
    settings.address = QStringLiteral("http://127.0.0.1:6800/jsonrpc");
    settings.secret = QStringLiteral("s3cret");
    return settings;
  }

 private slots:
  void init() { QDir(Folder()).removeRecursively(); }

  void theFileAndItsFolderAreTheUsersAlone() {
    QCOMPARE(File(), qEnvironmentVariable("XDG_CONFIG_HOME") +
                         QStringLiteral("/sorrel-resolver/sorrel-resolver.ini"));
    QVERIFY(Sample().Save());
    QCOMPARE(Mode(Folder()), mode_t{0700});
    QCOMPARE(Mode(File()), mode_t{0600});
    QCOMPARE(DownloadSettings::Load().secret, QStringLiteral("s3cret"));
    // Made more open by hand, it is private again after the next save.
    QVERIFY(chmod(QFile::encodeName(File()).constData(), 0644) == 0);
    QVERIFY(chmod(QFile::encodeName(Folder()).constData(), 0755) == 0);
    QVERIFY(Sample().Save());
    QCOMPARE(Mode(Folder()), mode_t{0700});
    QCOMPARE(Mode(File()), mode_t{0600});
  }

  void aLinkOrAnotherUsersFileIsLeftAlone() {
    QVERIFY(QDir().mkpath(Folder()));
    const QString elsewhere = Folder() + QStringLiteral("/elsewhere.conf");
    QFile target(elsewhere);
    QVERIFY(target.open(QIODevice::WriteOnly));
    target.write("[aria2]\naddress=http://127.0.0.1:1/jsonrpc\n");
    target.close();
    QVERIFY(QFile::link(elsewhere, File()));
    QCOMPARE(DownloadSettings::Load().address, QString());
    QVERIFY(!Sample().Save());
    QVERIFY(QFileInfo(File()).isSymLink());
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), QByteArray("[aria2]\naddress=http://127.0.0.1:1/jsonrpc\n"));
    target.close();

    if (geteuid() != 0) QSKIP("another user's file needs root to make");
    QVERIFY(QFile::remove(File()));
    QVERIFY(QFile::rename(elsewhere, File()));
    QVERIFY(chown(QFile::encodeName(File()).constData(), 65534, 65534) == 0);
    QCOMPARE(DownloadSettings::Load().address, QString());
    QVERIFY(!Sample().Save());
    struct stat info {};
    QVERIFY(stat(QFile::encodeName(File()).constData(), &info) == 0);
    QCOMPARE(info.st_uid, uid_t{65534});
  }
};

}  // namespace sorrel

int main(int argc, char** argv) {
  return sorrel::test::RunWithOwnFolders<sorrel::DownloadSettingsTest>(argc, argv);
}
#include "download_settings_test.moc"
