#include "app/downloads_model.h"

#include <utility>

#include "download/aria2_client.h"
#include "download/file_name.h"
#include "download/link_check.h"
#include "download/private_engine.h"

namespace sorrel {

namespace {

std::string StateText(const std::string& state, const std::string& error) {
  if (state == "active") return "下载中";
  if (state == "waiting") return "等待中";
  if (state == "paused") return "已暂停";
  if (state == "complete") return "已完成";
  if (state == "removed") return "已删除";
  return "出错：" + error;
}

}  // namespace

struct DownloadsModel::Progress {
  std::string gid;
  long long completed = 0;
  long long total = 0;
  long long speed = 0;
  std::string state;
  std::string error;
};

// The engine as the model's thread speaks to it: a private one started on
// first use when no address is set, and the transfers still to ask about.
class DownloadsModel::Engine {
 public:
  explicit Engine(const EngineAccess& engines) : engines_(engines) {}

  void Configure(const DownloadSettings& settings) {
    if (settings.address == settings_.address && settings.secret == settings_.secret &&
        settings.folder == settings_.folder) {
      return;
    }
    settings_ = settings;
    client_.reset();
    // A private engine keeps running for the transfers it has; a changed
    // address or folder only applies to the next ones.
    if (!settings_.address.empty()) private_.reset();
  }

  // The new transfer's GID, or empty with `error`.
  std::string Add(const std::string& normal, const std::string& page, const std::string& name,
                  std::string& error) {
    Aria2Client* client = Client(error);
    if (client == nullptr) return {};
    Aria2Download download;
    download.address = normal;
    download.fileName = name;
    // A private engine was started in the folder already.
    if (!settings_.address.empty()) download.dir = settings_.folder;
    download.referer = page;
    download.userAgent = std::string(engines_.agent);
    download.cookieLine = engines_.CookieLine(download.address);
    Aria2Error failure;
    std::string gid = client->AddUri(download, failure);
    if (gid.empty()) {
      error = failure.message;
    } else {
      active_.push_back(gid);
    }
    return gid;
  }

  bool Busy() const { return !active_.empty(); }

  std::vector<Progress> Poll() {
    std::vector<Progress> polled;
    std::string error;
    Aria2Client* client = active_.empty() ? nullptr : Client(error);
    for (std::size_t i = 0; client != nullptr && i < active_.size();) {
      Aria2Status status;
      Aria2Error failure;
      const std::string gid = active_[i];
      if (!client->TellStatus(gid, status, failure)) {
        polled.push_back({gid, 0, 0, 0, "error", failure.message});
        // An engine that does not answer is asked again at the next poll.
        if (failure.failure != Aria2Failure::kRefused) break;
        active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      polled.push_back({gid, status.completedLength, status.totalLength, status.downloadSpeed,
                        status.status, status.errorMessage});
      if (status.status == "complete" || status.status == "error" || status.status == "removed") {
        active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    return polled;
  }

 private:
  Aria2Client* Client(std::string& error) {
    if (client_) return client_.get();
    Aria2Endpoint endpoint{settings_.address, settings_.secret};
    if (settings_.address.empty()) {
      if (!private_) {
        PrivateEngineOptions options;
        options.downloadDir = settings_.folder;
        private_ = PrivateEngine::Start(engines_.http, engines_.threads, options, error);
        if (!private_) return nullptr;
      }
      endpoint = private_->Endpoint();
    }
    client_ = std::make_unique<Aria2Client>(engines_.http, engines_.threads, endpoint);
    return client_.get();
  }

  EngineAccess engines_;
  DownloadSettings settings_;
  std::unique_ptr<PrivateEngine> private_;
  std::unique_ptr<Aria2Client> client_;
  std::vector<std::string> active_;
};

DownloadsModel::DownloadsModel(const EngineAccess& engines, DownloadsView& view, WindowView& window)
    : view_(view),
      thread_(WindowThread::Open(window)),
      engine_(std::make_unique<Engine>(engines)),
      worker_([this] { Work(); }) {}

DownloadsModel::~DownloadsModel() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
  thread_->Close();
}

void DownloadsModel::Send(const DownloadSettings& settings, const std::string& normal,
                          const std::string& page) {
  view_.Raise();
  const std::string name = FileNameFromAddress(normal);
  Queue([this, settings, normal, page, name] {
    engine_->Configure(settings);
    std::string error;
    const std::string gid = engine_->Add(normal, page, name, error);
    thread_->Post([this, name, gid, error] { Added(name, gid, error); });
  });
}

void DownloadsModel::Queue(std::function<void()> job) {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_all();
}

void DownloadsModel::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  auto nextPoll = std::chrono::steady_clock::now() + kPollInterval;
  auto woken = [this] { return stopping_ || !jobs_.empty(); };
  while (!stopping_) {
    if (!jobs_.empty()) {
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
      continue;
    }
    // One poll at a time, and none while nothing runs: a slow engine is not
    // asked again and again.
    if (!engine_->Busy()) {
      wake_.wait(lock, woken);
      nextPoll = std::chrono::steady_clock::now() + kPollInterval;
      continue;
    }
    if (wake_.wait_until(lock, nextPoll, woken)) continue;
    lock.unlock();
    for (const Progress& progress : engine_->Poll()) {
      thread_->Post([this, progress] { Show(progress); });
    }
    lock.lock();
    nextPoll = std::chrono::steady_clock::now() + kPollInterval;
  }
}

void DownloadsModel::Added(const std::string& name, const std::string& gid,
                           const std::string& error) {
  Transfer transfer;
  transfer.name = name;
  transfer.gid = gid;
  if (gid.empty()) {
    transfer.state = "出错：" + error;
    transfer.detail = error;
  } else {
    transfer.state = StateText("waiting", "");
    rows_[gid] = transfers_.size();
  }
  transfers_.push_back(transfer);
  view_.ShowTransfer(transfers_.size() - 1, transfer);
}

void DownloadsModel::Show(const Progress& progress) {
  const auto row = rows_.find(progress.gid);
  if (row == rows_.end()) return;
  Transfer& transfer = transfers_[row->second];
  if (progress.state != "error" || progress.total > 0) {
    transfer.permille =
        progress.total > 0 ? static_cast<int>(progress.completed * 1000 / progress.total) : 0;
  }
  transfer.speed = progress.state == "active" ? HumanSize(progress.speed) + "/s" : "";
  transfer.state = StateText(progress.state, progress.error);
  transfer.detail = progress.error;
  view_.ShowTransfer(row->second, transfer);
}

}  // namespace sorrel
