#include "app/qt/single_window.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <memory>

#include "app/address_intake.h"
#include "app/qt/application.h"
#include "app/qt/download_settings.h"
#include "resolve/link_codec.h"

namespace sorrel {

namespace {

// A running window answers at once, busy or not: its event loop also runs
// inside the workflows' waits and the notice boxes.
constexpr int kConnectMs = 2000;
constexpr int kTransferMs = 5000;

}  // namespace

SingleWindow::SingleWindow(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

SingleWindow::~SingleWindow() = default;

QString SingleWindow::DefaultSocketPath() {
  // The runtime folder is the user's own (0700), made anew for each login.
  QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) folder = QDir::tempPath();
  return folder + QStringLiteral("/sorrel-resolver.socket");
}

SingleWindow::Start SingleWindow::Claim(const QString& argument) {
  // Without the lock two starts at once could both find no answer, and the
  // second would remove the first one's fresh socket.
  QLockFile lock(socketPath_ + QStringLiteral(".lock"));
  lock.setStaleLockTime(0);
  lock.tryLock(kConnectMs + kTransferMs);
  if (HandOver(argument)) return Start::kHandedOver;
  Listen();
  return Start::kFirst;
}

bool SingleWindow::HandOver(const QString& argument) {
  QLocalSocket socket;
  socket.connectToServer(socketPath_);
  if (!socket.waitForConnected(kConnectMs)) return false;
  socket.write(argument.toUtf8());
  socket.flush();
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kTransferMs);
  return true;
}

void SingleWindow::Listen() {
  QLocalServer::removeServer(socketPath_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  // Without the socket this window still works; later starts then open
  // windows of their own.
  if (!server_->listen(socketPath_)) return;
  connect(server_, &QLocalServer::newConnection, this, &SingleWindow::Accept);
}

void SingleWindow::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    auto bytes = std::make_shared<QByteArray>();
    auto take = [socket, bytes] { *bytes += socket->readAll(); };
    auto finish = [this, socket, bytes, take] {
      take();
      socket->disconnect(this);
      socket->deleteLater();
      emit Received(QString::fromUtf8(*bytes));
    };
    connect(socket, &QLocalSocket::readyRead, this, take);
    connect(socket, &QLocalSocket::disconnected, this, finish);
    // A start that ended before it was accepted has delivered all it sends.
    if (socket->state() == QLocalSocket::UnconnectedState) finish();
  }
}

QString HandedArgument(const QStringList& arguments) {
  return arguments.size() > 1 ? arguments.at(1) : QString();
}

void OpenHanded(Application& program, const QString& argument) {
  MainWindow& window = program.Window();
  window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.show();
  window.raise();
  window.activateWindow();
  if (argument.trimmed().isEmpty()) return;
  const bool link = IsWrappedLink(TrimmedAddress(argument.toStdString()));
  if (window.OpenAddress(argument) && link && DownloadSettings::Load().sendOpenedLinks) {
    program.Menu().SendToAria2();
  }
}

void ServeLaterStarts(SingleWindow& single, Application& program) {
  QObject::connect(&single, &SingleWindow::Received, &program.Window(),
                   [&program](const QString& argument) { OpenHanded(program, argument); });
}

}  // namespace sorrel
