#include "app/downloads_model.h"

#include <algorithm>
#include <utility>

#include "download/aria2_client.h"
#include "download/file_name.h"
#include "download/link_check.h"
#include "download/private_engine.h"

namespace sorrel {

namespace {

// Beside aria2's own words for a transfer's state: the engine did not
// answer or refused, and the tool's own engine ended under the transfer.
constexpr const char* kUnanswered = "unanswered";
constexpr const char* kStopped = "stopped";

bool Ended(const std::string& state) {
  return state == "error" || state == kUnanswered || state == kStopped;
}

std::string StateText(const std::string& state, const std::string& sentence) {
  if (state == "active") return "下载中";
  if (state == "waiting") return "等待中";
  if (state == "paused") return "已暂停";
  if (state == "complete") return "已完成";
  if (state == "removed") return "已删除";
  // aria2's failure, in a sentence that already says the download failed.
  if (state == "error") return sentence;
  if (state == kStopped) return "已中断：" + sentence;
  return "出错：" + sentence;
}

// What the ended engine wrote stays, and no later download writes into it.
std::string StoppedSentence(const std::string& path) {
  return "本工具启动的 aria2c 已经退出，" + path + " 只下载了一部分。";
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

struct DownloadsModel::Progress {
  std::string gid;
  long long completed = 0;
  long long total = 0;
  long long speed = 0;
  std::string state;
  std::string sentence;  // on a failure
  std::string name;      // the file's name as the engine reports it; empty when unknown
};

// The engine as the model's thread speaks to it: the tool's own, started at
// the first send when no address is set and again at the next send after it
// ended, or the one at the address set; and the transfers still to ask
// about, each of the engine it went to.
class DownloadsModel::Engine {
 public:
  explicit Engine(const EngineAccess& engines) : engines_(engines) {}

  void Configure(const DownloadSettings& settings) {
    // Transfers already sent stay with the engine they went to; a changed
    // address, secret or folder only applies to the next ones.
    if (settings.address != settings_.address || settings.secret != settings_.secret) {
      remote_.reset();
    }
    settings_ = settings;
  }

  // The new transfer's GID, or empty with `error`. `name` becomes the name
  // the file is written under when the tool's own engine chose another.
  std::string Add(const std::string& normal, const std::string& page, std::string& name,
                  std::string& error) {
    Aria2Download download;
    download.address = normal;
    download.fileName = name;
    download.dir = settings_.folder;
    download.referer = page;
    download.userAgent = std::string(engines_.agent);
    if (IsSocks(settings_.proxy.kind)) {
      error = kSocksDownload;
      return {};
    }
    if (settings_.proxy.kind == ProxyKind::kHttp) {
      download.proxy =
          "http://" + settings_.proxy.host + ":" + std::to_string(settings_.proxy.port);
      download.proxyUser = settings_.proxy.user;
      download.proxyPassword = settings_.proxy.password;
    }
    Aria2Error failure;
    Watched watched;
    if (settings_.address.empty()) {
      if (!own_) {
        own_ = std::make_unique<PrivateEngineKeeper>(engines_.http, engines_.threads,
                                                     PrivateEngineOptions{});
      }
      // An engine started now is another than the one earlier transfers
      // went to.
      if (!own_->Running()) ++ownStarts_;
      watched.gid = own_->Add(download, engines_.CookieLine(normal), failure);
      watched.ownStart = ownStarts_;
      watched.path = download.dir + "/" + download.fileName;
      name = download.fileName;
    } else {
      if (!remote_) {
        remote_ = std::make_shared<Aria2Client>(engines_.http, engines_.threads,
                                                Aria2Endpoint{settings_.address, settings_.secret});
      }
      watched.gid = remote_->AddUri(download, failure);
      watched.remote = remote_;
    }
    if (watched.gid.empty()) {
      error = failure.message;
    } else {
      active_.push_back(watched);
    }
    return watched.gid;
  }

  bool Busy() const { return !active_.empty(); }

  std::vector<Progress> Poll() {
    std::vector<Progress> polled;
    bool ownRunning = own_ && own_->Running();
    // An engine that does not answer is asked again at the next poll, not
    // once for each of its transfers.
    std::vector<const Aria2Client*> silent;
    for (std::size_t i = 0; i < active_.size();) {
      const Watched& watched = active_[i];
      const bool own = watched.remote == nullptr;
      if (own && (!ownRunning || watched.ownStart != ownStarts_)) {
        // A later engine knows nothing of this transfer.
        polled.push_back({watched.gid, 0, 0, 0, kStopped, StoppedSentence(watched.path), {}});
        active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      Aria2Client* client = own ? own_->Client() : watched.remote.get();
      if (std::find(silent.begin(), silent.end(), client) != silent.end()) {
        ++i;
        continue;
      }
      Aria2Status status;
      Aria2Error failure;
      if (!client->TellStatus(watched.gid, status, failure)) {
        // An engine of ours that ended is reaped here; its transfers end.
        if (own && !own_->Running()) {
          ownRunning = false;
          continue;
        }
        polled.push_back({watched.gid, 0, 0, 0, kUnanswered, failure.message, {}});
        if (failure.failure == Aria2Failure::kRefused) {
          active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          silent.push_back(client);
          ++i;
        }
        continue;
      }
      polled.push_back({watched.gid, status.completedLength, status.totalLength,
                        status.downloadSpeed, status.status,
                        status.status == "error" ? Aria2DownloadFailure(status) : std::string(),
                        BaseName(status.path)});
      if (status.status == "complete" || status.status == "error" || status.status == "removed") {
        active_.erase(active_.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    return polled;
  }

 private:
  struct Watched {
    std::string gid;
    std::shared_ptr<Aria2Client> remote;  // null: the tool's own engine
    int ownStart = 0;                     // which start of the tool's own engine took it
    std::string path;                     // where the tool's own engine writes it
  };

  EngineAccess engines_;
  DownloadSettings settings_;
  std::unique_ptr<PrivateEngineKeeper> own_;
  int ownStarts_ = 0;
  std::shared_ptr<Aria2Client> remote_;
  std::vector<Watched> active_;
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
  Queue([this, settings, normal, page] {
    engine_->Configure(settings);
    std::string name = FileNameFromAddress(normal);
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
    transfer.state = StateText(kUnanswered, error);
    transfer.detail = error;
  } else {
    transfer.state = StateText("waiting", {});
    rows_[gid] = transfers_.size();
  }
  transfers_.push_back(transfer);
  view_.ShowTransfer(transfers_.size() - 1, transfer);
}

void DownloadsModel::Show(const Progress& progress) {
  const auto row = rows_.find(progress.gid);
  if (row == rows_.end()) return;
  Transfer& transfer = transfers_[row->second];
  if (!Ended(progress.state) || progress.total > 0) {
    transfer.permille =
        progress.total > 0 ? static_cast<int>(progress.completed * 1000 / progress.total) : 0;
  }
  // The engine at an address of the user's may write under another name.
  if (!progress.name.empty()) transfer.name = progress.name;
  transfer.speed = progress.state == "active" ? HumanSize(progress.speed) + "/s" : "";
  transfer.state = StateText(progress.state, progress.sentence);
  transfer.detail = progress.sentence;
  view_.ShowTransfer(row->second, transfer);
}

}  // namespace sorrel
