#include "app/qt/single_window.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <cstdio>
#include <memory>
#include <string>

#include "app/address_intake.h"
#include "app/qt/application.h"
#include "app/qt/download_settings.h"
#include "resolve/link_codec.h"
#include "support/user_dirs_posix.h"

namespace sorrel {

namespace {

// A running window answers at once, busy or not: its event loop also runs
// inside the workflows' waits and the notice boxes.
constexpr int kConnectMs = 2000;
constexpr int kTransferMs = 5000;

// The other end of a connected local socket runs as this user.
bool PeerIsThisUser(const QLocalSocket& socket) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                    &size) == 0 &&
         peer.uid == geteuid();
}

}  // namespace

SingleWindow::SingleWindow(QString socketPath, QObject* parent)
    : QObject(parent), socketPath_(std::move(socketPath)) {}

SingleWindow::~SingleWindow() = default;

QString SingleWindow::DefaultSocketPath() {
  // A socket in a folder others can write to could be another user's.
  std::string why;
  const std::string folder = UserRuntimeFolder(&why);
  if (folder.empty()) {
    std::fprintf(stderr, "sorrel-resolver: %s每次启动都会打开新的窗口。\n", why.c_str());
    return {};
  }
  return QString::fromStdString(folder) + QStringLiteral("/sorrel-resolver.socket");
}

SingleWindow::Start SingleWindow::Claim(const QString& argument) {
  if (socketPath_.isEmpty()) return Start::kFirst;
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
  if (!socket.waitForConnected(kConnectMs) || !PeerIsThisUser(socket)) return false;
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
    if (!PeerIsThisUser(*socket)) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
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
