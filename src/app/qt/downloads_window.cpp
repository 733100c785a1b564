#include "app/qt/downloads_window.h"

#include <QHeaderView>
#include <QProgressBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "download/file_name.h"
#include "download/link_check.h"
#include "http/http_stack.h"
#include "http/web_access.h"

namespace sorrel {

namespace {

constexpr int kPollMs = 500;
enum Column { kName = 0, kProgress, kSpeed, kState };

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

QString StateText(const QString& state, const QString& error) {
  if (state == "active") return QString::fromUtf8("下载中");
  if (state == "waiting") return QString::fromUtf8("等待中");
  if (state == "paused") return QString::fromUtf8("已暂停");
  if (state == "complete") return QString::fromUtf8("已完成");
  if (state == "removed") return QString::fromUtf8("已删除");
  return QString::fromUtf8("出错：") + error;
}

}  // namespace

DownloadEngine::DownloadEngine(HttpStack& stack, ThreadSystem& threads)
    : stack_(stack), threads_(threads) {}

DownloadEngine::~DownloadEngine() = default;

void DownloadEngine::Configure(const QString& address, const QString& secret,
                               const QString& folder) {
  if (address == address_ && secret == secret_ && folder == folder_) return;
  address_ = address;
  secret_ = secret;
  folder_ = folder;
  client_.reset();
  // A private engine keeps running for the transfers it has; a changed
  // folder only applies to the next ones.
  if (!address_.isEmpty()) keeper_.reset();
}

Aria2Client* DownloadEngine::Client() {
  if (address_.isEmpty()) return keeper_ ? keeper_->Client() : nullptr;
  if (!client_) {
    client_ = std::make_unique<Aria2Client>(
        stack_, threads_, Aria2Endpoint{address_.toStdString(), secret_.toStdString()});
  }
  return client_.get();
}

void DownloadEngine::Add(const QString& normal, const QString& page, const QString& name) {
  Aria2Download download;
  download.address = normal.toStdString();
  download.fileName = name.toStdString();
  download.dir = folder_.toStdString();
  download.referer = page.toStdString();
  download.userAgent = std::string(kPageUserAgent);
  Aria2Error failure;
  std::string gid;
  if (address_.isEmpty()) {
    // The engine of the tool's own, started again here after it ended.
    if (!keeper_)
      keeper_ = std::make_unique<PrivateEngineKeeper>(stack_, threads_, PrivateEngineOptions{});
    gid = keeper_->Add(download, stack_.CookieLine(download.address), failure);
  } else {
    gid = Client()->AddUri(download, failure);
  }
  if (gid.empty()) {
    emit Failed(name, Utf8(failure.message));
    return;
  }
  active_.append(Utf8(gid));
  emit Added(Utf8(download.fileName), Utf8(gid));
}

void DownloadEngine::Poll() {
  Aria2Client* client = active_.isEmpty() ? nullptr : Client();
  for (int i = 0; client != nullptr && i < active_.size();) {
    Aria2Status status;
    Aria2Error failure;
    const QString gid = active_[i];
    if (!client->TellStatus(gid.toStdString(), status, failure)) {
      // An engine of ours that ended is reaped at once.
      if (keeper_) keeper_->Running();
      emit Progress(gid, 0, 0, 0, "error", Utf8(failure.message));
      // An engine that does not answer is asked again at the next poll.
      if (failure.failure != Aria2Failure::kRefused) break;
      active_.removeAt(i);
      continue;
    }
    const QString state = Utf8(status.status);
    emit Progress(gid, status.completedLength, status.totalLength, status.downloadSpeed, state,
                  state == "error" ? Utf8(Aria2DownloadFailure(status)) : QString());
    if (state == "complete" || state == "error" || state == "removed") {
      active_.removeAt(i);
    } else {
      ++i;
    }
  }
  emit Polled();
}

DownloadsWindow::DownloadsWindow(HttpStack& stack, ThreadSystem& threads, QWidget* parent)
    : QWidget(parent, Qt::Window),
      engine_(new DownloadEngine(stack, threads)),
      table_(new QTableWidget(0, 4, this)) {
  setWindowTitle(QString::fromUtf8("aria2 下载"));
  setObjectName("DownloadsWindow");
  table_->setHorizontalHeaderLabels({QString::fromUtf8("文件名"), QString::fromUtf8("进度"),
                                     QString::fromUtf8("速度"), QString::fromUtf8("状态")});
  table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(table_);
  resize(560, 220);

  engine_->moveToThread(&thread_);
  connect(&thread_, &QThread::finished, engine_, &QObject::deleteLater);
  connect(engine_, &DownloadEngine::Added, this, &DownloadsWindow::OnAdded);
  connect(engine_, &DownloadEngine::Failed, this, &DownloadsWindow::OnFailed);
  connect(engine_, &DownloadEngine::Progress, this, &DownloadsWindow::OnProgress);
  connect(engine_, &DownloadEngine::Polled, this, [this] { pollPending_ = false; });
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] {
    // One poll at a time: a slow engine is not asked again and again.
    if (pollPending_) return;
    pollPending_ = true;
    QMetaObject::invokeMethod(engine_, &DownloadEngine::Poll, Qt::QueuedConnection);
  });
  thread_.start();
  poll_.start();
}

DownloadsWindow::~DownloadsWindow() {
  poll_.stop();
  thread_.quit();
  thread_.wait();
}

void DownloadsWindow::Send(const QString& normal, const QString& page) {
  show();
  raise();
  const DownloadSettings settings = DownloadSettings::Load();
  const QString name = Utf8(FileNameFromAddress(normal.toStdString()));
  QMetaObject::invokeMethod(
      engine_,
      [engine = engine_, settings, normal, page, name] {
        engine->Configure(settings.address, settings.secret, settings.folder);
        engine->Add(normal, page, name);
      },
      Qt::QueuedConnection);
}

int DownloadsWindow::AddRow(const QString& name) {
  const int row = table_->rowCount();
  table_->insertRow(row);
  table_->setItem(row, kName, new QTableWidgetItem(name));
  auto* bar = new QProgressBar(table_);
  bar->setRange(0, 1000);
  bar->setValue(0);
  table_->setCellWidget(row, kProgress, bar);
  table_->setItem(row, kSpeed, new QTableWidgetItem(QString()));
  table_->setItem(row, kState, new QTableWidgetItem(QString::fromUtf8("等待中")));
  return row;
}

void DownloadsWindow::OnAdded(const QString& name, const QString& gid) {
  rows_.insert(gid, AddRow(name));
}

void DownloadsWindow::OnFailed(const QString& name, const QString& message) {
  const int row = AddRow(name);
  table_->item(row, kState)->setText(QString::fromUtf8("出错：") + message);
  table_->item(row, kState)->setToolTip(message);
}

void DownloadsWindow::OnProgress(const QString& gid, qint64 completed, qint64 total, qint64 speed,
                                 const QString& state, const QString& error) {
  const auto it = rows_.constFind(gid);
  if (it == rows_.constEnd()) return;
  const int row = *it;
  if (state != "error" || total > 0) {
    auto* bar = static_cast<QProgressBar*>(table_->cellWidget(row, kProgress));
    bar->setValue(total > 0 ? static_cast<int>(completed * 1000 / total) : 0);
  }
  table_->item(row, kSpeed)->setText(state == "active" ? Utf8(HumanSize(speed)) + "/s" : QString());
  table_->item(row, kState)->setText(StateText(state, error));
  table_->item(row, kState)->setToolTip(error);
}

}  // namespace sorrel
