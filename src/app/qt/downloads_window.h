// The small window that lists what was sent to aria2: name, a progress bar,
// speed and state of each transfer. The engine is spoken to on a thread of
// its own, polled about twice a second, so that a slow or dead engine never
// holds up the main window.
#pragma once

#include <QHash>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/qt/download_settings.h"
#include "download/aria2_client.h"
#include "download/private_engine.h"

class QTableWidget;
class QLabel;

namespace sorrel {

class HttpStack;
class ThreadSystem;

// Lives on the downloads window's thread; every slot may block.
class DownloadEngine : public QObject {
  Q_OBJECT

 public:
  DownloadEngine(HttpStack& stack, ThreadSystem& threads);
  ~DownloadEngine() override;

 public slots:
  void Configure(const QString& address, const QString& secret, const QString& folder);
  void Add(const QString& normal, const QString& page, const QString& name);
  void Poll();

 signals:
  void Added(const QString& name, const QString& gid);
  void Failed(const QString& name, const QString& message);
  void Progress(const QString& gid, qint64 completed, qint64 total, qint64 speed,
                const QString& state, const QString& error);
  void Polled();

 private:
  // The engine at the address set, or the tool's own; null before its first start.
  Aria2Client* Client();

  HttpStack& stack_;
  ThreadSystem& threads_;
  QString address_, secret_, folder_;
  std::unique_ptr<PrivateEngineKeeper> keeper_;
  std::unique_ptr<Aria2Client> client_;  // of an engine at `address_`
  QStringList active_;
};

class DownloadsWindow : public QWidget {
  Q_OBJECT

 public:
  DownloadsWindow(HttpStack& stack, ThreadSystem& threads, QWidget* parent = nullptr);
  ~DownloadsWindow() override;

  // Shows the window and sends the address with the settings as they are now.
  void Send(const QString& normal, const QString& page);
  QTableWidget* Table() const { return table_; }

 private:
  void OnAdded(const QString& name, const QString& gid);
  void OnFailed(const QString& name, const QString& message);
  void OnProgress(const QString& gid, qint64 completed, qint64 total, qint64 speed,
                  const QString& state, const QString& error);
  int AddRow(const QString& name);

  QThread thread_;
  DownloadEngine* engine_;
  QTimer poll_;
  bool pollPending_ = false;
  QTableWidget* table_;
  QHash<QString, int> rows_;
};

}  // namespace sorrel
