// One window per user session. The first start listens on a local socket in
// a folder only the user can enter (the runtime folder); a later start hands
// its argument (a link, a page address or nothing) to that window over it
// and ends. Either side talks only to a peer of the same user.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace sorrel {

class Application;

class SingleWindow : public QObject {
  Q_OBJECT

 public:
  // `socketPath` is where the running program listens; the default is the
  // user's own. Without one, every start opens a window of its own.
  explicit SingleWindow(QString socketPath = DefaultSocketPath(), QObject* parent = nullptr);
  ~SingleWindow() override;

  // In the user's runtime folder; "" with a line on standard error when
  // there is no folder that is the user's alone.
  static QString DefaultSocketPath();

  enum class Start { kFirst, kHandedOver };
  // Hands `argument` to the running program, or else becomes the one later
  // starts reach. A socket that nobody answers is what a crashed program
  // left: it is removed and taken over. Two starts at once take turns.
  Start Claim(const QString& argument);

 signals:
  // A later start's argument; empty when it only wants the window.
  void Received(const QString& argument);

 private:
  bool HandOver(const QString& argument);
  void Listen();
  void Accept();

  QString socketPath_;
  QLocalServer* server_ = nullptr;
};

// The command line's link or address: the first argument, or empty.
QString HandedArgument(const QStringList& arguments);

// Brings the window to the front and opens `argument` in it the way a paste
// does; an empty argument only brings it to the front. A link goes on to
// aria2 when the user's download settings say so.
void OpenHanded(Application& program, const QString& argument);

// Every later start reaching `single` opens its argument in the window.
void ServeLaterStarts(SingleWindow& single, Application& program);

}  // namespace sorrel
