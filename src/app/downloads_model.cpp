#include "app/downloads_model.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>
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

TransferPhase PhaseOf(const std::string& state) {
  if (state == "active") return TransferPhase::kActive;
  if (state == "waiting") return TransferPhase::kWaiting;
  if (state == "paused") return TransferPhase::kPaused;
  if (state == "complete") return TransferPhase::kComplete;
  return TransferPhase::kFailed;
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Paths are UTF-8 on every system.
std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

bool Exists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(FsPath(path), ignored));
}

// The folder given to the engine and the name in it.
std::string Joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || name.empty()) return {};
  const char last = folder.back();
  return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

std::string FolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

// The engine moves on to a stopped download's result a moment after it
// was told to stop; until then that result cannot be removed.
constexpr int kResultTries = 20;
constexpr std::chrono::milliseconds kResultPause{100};

}  // namespace

std::string LayoutText(const DownloadsLayout& layout) {
  std::string text = std::to_string(layout.width);
  text += 'x';
  text += std::to_string(layout.height);
  text += ';';
  for (std::size_t i = 0; i < layout.widths.size(); ++i) {
    if (i != 0) text += ',';
    text += std::to_string(layout.widths[i]);
  }
  return text;
}

DownloadsLayout ParseLayout(std::string_view text) {
  std::vector<int> numbers;
  std::string separators;
  int number = -1;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      number = (number < 0 ? 0 : number) * 10 + (c - '0');
      if (number > 100000) return {};
      continue;
    }
    if (number < 0) return {};
    numbers.push_back(number);
    separators += c;
    number = -1;
  }
  if (number < 0) return {};
  numbers.push_back(number);
  const DownloadsLayout first;
  if (separators != "x;" + std::string(first.widths.size() - 1, ',')) return {};
  DownloadsLayout layout{numbers[0], numbers[1], {numbers.begin() + 2, numbers.end()}};
  const auto within = [](int value, int least, int most) {
    return value >= least && value <= most;
  };
  if (!within(layout.width, 200, 16384) || !within(layout.height, 100, 16384)) return {};
  for (const int width : layout.widths) {
    if (!within(width, 20, 8192)) return {};
  }
  return layout;
}

std::string NameInFolder(std::string folder, std::string reported) {
  std::replace(folder.begin(), folder.end(), '\\', '/');
  std::replace(reported.begin(), reported.end(), '\\', '/');
  if (folder.empty()) return {};
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string prefix = folder == "/" ? folder : folder + "/";
  if (reported.size() <= prefix.size() || reported.compare(0, prefix.size(), prefix) != 0)
    return {};
  std::string name = reported.substr(prefix.size());
  if (name.find('/') != std::string::npos || name == "." || name == "..") return {};
  return name;
}

struct DownloadsModel::Progress {
  int key = 0;
  std::string gid;
  long long completed = 0;
  long long total = 0;
  long long speed = 0;
  std::string state;
  std::string sentence;  // on a failure
  std::string name;      // the file's name as the engine reports it; empty when unknown
  std::string path;      // the file on this machine; empty when unknown
};

// The engine as the model's thread speaks to it: the tool's own, started at
// the first send when no address is set and again at the next send after it
// ended, or the one at the address set; and each transfer it took, of the
// engine it went to, asked about until it ends.
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
  // the file is written under when the tool's own engine chose another;
  // `path` the file when its folder is known.
  std::string Add(int key, const std::string& normal, const std::string& page, std::string& name,
                  std::string& path, std::string& error) {
    Watched watched;
    Aria2Download& download = watched.download;
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
      return {};
    }
    path = Joined(download.dir, download.fileName);
    watched_[key] = watched;
    return watched.gid;
  }

  bool Busy() const {
    return std::any_of(watched_.begin(), watched_.end(),
                       [](const auto& entry) { return entry.second.asked; });
  }

  // The transfer added again under its own folder and name, taken up where
  // its control file says; its old result forgotten. The new GID, or empty
  // with `error`.
  std::string Retry(int key, std::string& error) {
    const auto found = watched_.find(key);
    if (found == watched_.end()) return {};
    Watched& watched = found->second;
    Aria2Error failure;
    if (Aria2Client* old = ClientOf(watched)) old->RemoveDownloadResult(watched.gid, failure);
    Aria2Download download = watched.download;
    download.resume = true;
    std::string gid;
    if (watched.remote) {
      gid = watched.remote->AddUri(download, failure);
    } else {
      if (!own_->Running()) ++ownStarts_;
      gid = own_->AddAgain(download, engines_.CookieLine(download.address), failure);
      watched.ownStart = ownStarts_;
    }
    if (gid.empty()) {
      error = failure.message;
      return {};
    }
    watched.gid = gid;
    watched.asked = true;
    return gid;
  }

  // Pauses the transfer, or lets it go on; false with `error`.
  bool Hold(int key, bool paused, std::string& error) {
    const auto found = watched_.find(key);
    if (found == watched_.end()) return false;
    Aria2Client* client = ClientOf(found->second);
    Aria2Error failure;
    if (client == nullptr) {
      error = StoppedSentence(Joined(found->second.download.dir, found->second.download.fileName));
      return false;
    }
    const bool done = paused ? client->Pause(found->second.gid, failure)
                             : client->Unpause(found->second.gid, failure);
    if (!done) error = failure.message;
    return done;
  }

  // The transfer stopped and forgotten by its engine; with `partial`, its
  // file and control file deleted once the engine has let go of them.
  void Remove(int key, bool partial) {
    const auto found = watched_.find(key);
    if (found == watched_.end()) return;
    const Watched watched = found->second;
    watched_.erase(found);
    if (Aria2Client* client = ClientOf(watched)) {
      Aria2Error failure;
      client->Cancel(watched.gid, failure);
      for (int i = 0; i < kResultTries; ++i) {
        if (client->RemoveDownloadResult(watched.gid, failure)) break;
        // An engine that does not answer is not asked again.
        if (failure.failure != Aria2Failure::kRefused) break;
        std::this_thread::sleep_for(kResultPause);
      }
    }
    if (!partial) return;
    const std::string path = Joined(watched.download.dir, watched.download.fileName);
    if (path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(FsPath(path), ignored);
    std::filesystem::remove(FsPath(path + ".aria2"), ignored);
  }

  std::vector<Progress> Poll() {
    std::vector<Progress> polled;
    bool ownRunning = own_ && own_->Running();
    // An engine that does not answer is asked again at the next poll, not
    // once for each of its transfers.
    std::vector<const Aria2Client*> silent;
    for (auto& [key, watched] : watched_) {
      if (!watched.asked) continue;
      const bool own = watched.remote == nullptr;
      const std::string path = Joined(watched.download.dir, watched.download.fileName);
      if (own && (!ownRunning || watched.ownStart != ownStarts_)) {
        // A later engine knows nothing of this transfer.
        polled.push_back({key, watched.gid, 0, 0, 0, kStopped, StoppedSentence(path), {}, path});
        watched.asked = false;
        continue;
      }
      Aria2Client* client = own ? own_->Client() : watched.remote.get();
      if (std::find(silent.begin(), silent.end(), client) != silent.end()) continue;
      Aria2Status status;
      Aria2Error failure;
      if (!client->TellStatus(watched.gid, status, failure)) {
        // An engine of ours that ended is reaped here; its transfers end.
        if (own && !own_->Running()) {
          ownRunning = false;
          polled.push_back({key, watched.gid, 0, 0, 0, kStopped, StoppedSentence(path), {}, path});
          watched.asked = false;
          continue;
        }
        polled.push_back({key, watched.gid, 0, 0, 0, kUnanswered, failure.message, {}, path});
        if (failure.failure == Aria2Failure::kRefused) {
          watched.asked = false;
        } else {
          silent.push_back(client);
        }
        continue;
      }
      // The engine at an address of the user's may write under another
      // name; a path outside the folder it was given is not taken.
      const std::string name = NameInFolder(watched.download.dir, status.path);
      if (!name.empty()) watched.download.fileName = name;
      polled.push_back(
          {key, watched.gid, status.completedLength, status.totalLength, status.downloadSpeed,
           status.status, status.status == "error" ? Aria2DownloadFailure(status) : std::string(),
           BaseName(status.path), Joined(watched.download.dir, watched.download.fileName)});
      if (status.status == "complete" || status.status == "error" || status.status == "removed") {
        watched.asked = false;
      }
    }
    return polled;
  }

 private:
  struct Watched {
    std::string gid;
    std::shared_ptr<Aria2Client> remote;  // null: the tool's own engine
    int ownStart = 0;                     // which start of the tool's own engine took it
    Aria2Download download;               // as the engine took it: its folder and name
    bool asked = true;                    // until it ends
  };

  // The client of the engine that holds the transfer; null when that was
  // an engine of the tool's own that has ended.
  Aria2Client* ClientOf(const Watched& watched) {
    if (watched.remote) return watched.remote.get();
    if (!own_ || !own_->Running() || watched.ownStart != ownStarts_) return nullptr;
    return own_->Client();
  }

  EngineAccess engines_;
  DownloadSettings settings_;
  std::unique_ptr<PrivateEngineKeeper> own_;
  int ownStarts_ = 0;
  std::shared_ptr<Aria2Client> remote_;
  std::map<int, Watched> watched_;
};

DownloadsModel::DownloadsModel(const EngineAccess& engines, DownloadsView& view, WindowView& window)
    : view_(view),
      thread_(WindowThread::Open(window)),
      engine_(std::make_unique<Engine>(engines)),
      worker_([this] { Work(); }) {
  view_.Bind(this);
}

DownloadsModel::~DownloadsModel() {
  view_.Bind(nullptr);
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
  Hand({nextKey_++, settings, normal, page}, true);
}

void DownloadsModel::Hand(const Sent& sent, bool fresh) {
  Queue([this, sent, fresh] {
    engine_->Configure(sent.settings);
    std::string name = FileNameFromAddress(sent.normal);
    std::string path;
    std::string error;
    const std::string gid = engine_->Add(sent.key, sent.normal, sent.page, name, path, error);
    thread_->Post([this, sent, fresh, name, gid, path, error] {
      if (RowOf(sent.key) == transfers_.size()) {
        // Sent again, then removed while the engine took it.
        if (!fresh) {
          if (!gid.empty()) Queue([this, key = sent.key] { engine_->Remove(key, false); });
          return;
        }
        transfers_.emplace_back();
        sent_.push_back(sent);
      }
      Added(sent.key, name, gid, path, error);
    });
  });
}

std::size_t DownloadsModel::RowOf(int key) const {
  std::size_t row = 0;
  while (row < sent_.size() && sent_[row].key != key) ++row;
  return row;
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

void DownloadsModel::Added(int key, const std::string& name, const std::string& gid,
                           const std::string& path, const std::string& error) {
  const std::size_t row = RowOf(key);
  if (row == transfers_.size()) return;
  Transfer transfer;
  transfer.name = name;
  transfer.gid = gid;
  transfer.path = path;
  if (gid.empty()) {
    transfer.state = StateText(kUnanswered, error);
    transfer.detail = error;
    transfer.phase = TransferPhase::kFailed;
  } else {
    transfer.state = StateText("waiting", {});
  }
  transfers_[row] = transfer;
  view_.ShowTransfer(row, transfer);
}

void DownloadsModel::Show(const Progress& progress) {
  const std::size_t row = RowOf(progress.key);
  // A removed transfer, or word of the one a retry replaced.
  if (row == transfers_.size() || transfers_[row].gid != progress.gid) return;
  Transfer& transfer = transfers_[row];
  if (!Ended(progress.state) || progress.total > 0) {
    transfer.permille =
        progress.total > 0 ? static_cast<int>(progress.completed * 1000 / progress.total) : 0;
  }
  if (!progress.name.empty()) transfer.name = progress.name;
  transfer.path = progress.path;
  transfer.speed = progress.state == "active" ? HumanSize(progress.speed) + "/s" : "";
  transfer.state = StateText(progress.state, progress.sentence);
  transfer.detail = progress.sentence;
  transfer.phase = PhaseOf(progress.state);
  view_.ShowTransfer(row, transfer);
}

void DownloadsModel::Failed(int key, const std::string& error) {
  const std::size_t row = RowOf(key);
  if (row == transfers_.size()) return;
  Transfer& transfer = transfers_[row];
  transfer.speed.clear();
  transfer.state = StateText(kUnanswered, error);
  transfer.detail = error;
  transfer.phase = TransferPhase::kFailed;
  view_.ShowTransfer(row, transfer);
}

std::vector<TransferAction> DownloadsModel::Actions(std::size_t row) const {
  if (row >= transfers_.size()) return {};
  const Transfer& transfer = transfers_[row];
  using A = TransferAction;
  switch (transfer.phase) {
    case TransferPhase::kWaiting:
    case TransferPhase::kActive:
      // Not yet taken by the engine: nothing to pause.
      if (transfer.gid.empty()) return {};
      return {A::kPause, A::kRemove};
    case TransferPhase::kPaused:
      return {A::kResume, A::kRemove};
    case TransferPhase::kComplete:
      if (transfer.path.empty()) return {A::kRemove};
      return {A::kOpenFile, A::kOpenFolder, A::kRemove};
    case TransferPhase::kFailed:
      return {A::kRetry, A::kRemove};
  }
  return {};
}

const char* DownloadsModel::ActionText(TransferAction action) {
  return downloads_texts::kActions[static_cast<int>(action)];
}

void DownloadsModel::Act(std::size_t row, TransferAction action) {
  const std::vector<TransferAction> offered = Actions(row);
  if (std::find(offered.begin(), offered.end(), action) == offered.end()) return;
  const Transfer& transfer = transfers_[row];
  const int key = sent_[row].key;
  switch (action) {
    case TransferAction::kOpenFile:
    case TransferAction::kOpenFolder: {
      const std::string path =
          action == TransferAction::kOpenFile ? transfer.path : FolderOf(transfer.path);
      if (!view_.OpenPath(path)) {
        view_.Tell(downloads_texts::kOpenTitle, downloads_texts::kNotOpened + path + "。");
      }
      return;
    }
    case TransferAction::kPause:
    case TransferAction::kResume:
      Queue([this, key, paused = action == TransferAction::kPause] {
        std::string error;
        if (engine_->Hold(key, paused, error)) return;
        thread_->Post([this, error] { view_.Tell(downloads_texts::kEngineTitle, error); });
      });
      return;
    case TransferAction::kRetry: {
      Transfer& again = transfers_[row];
      again.state = StateText("waiting", {});
      again.detail.clear();
      again.phase = TransferPhase::kWaiting;
      view_.ShowTransfer(row, again);
      if (again.gid.empty()) {
        Hand(sent_[row], false);
        return;
      }
      // Word of the old transfer that is still on its way is not shown.
      const std::string old = std::exchange(again.gid, std::string());
      Queue([this, key, old] {
        std::string error;
        const std::string gid = engine_->Retry(key, error);
        thread_->Post([this, key, old, gid, error] {
          const std::size_t at = RowOf(key);
          if (at == transfers_.size()) return;
          transfers_[at].gid = gid.empty() ? old : gid;
          if (gid.empty()) Failed(key, error);
        });
      });
      return;
    }
    case TransferAction::kRemove:
      Remove(row);
      return;
  }
}

void DownloadsModel::Remove(std::size_t row) {
  const Transfer& transfer = transfers_[row];
  const bool partial = transfer.phase != TransferPhase::kComplete;
  if (partial && !transfer.path.empty() &&
      (Exists(transfer.path) || Exists(transfer.path + ".aria2"))) {
    if (!view_.Ask(downloads_texts::kRemoveTitle,
                   "“" + transfer.name + "”" + downloads_texts::kRemoveQuestion)) {
      return;
    }
  }
  const int key = sent_[row].key;
  transfers_.erase(transfers_.begin() + static_cast<std::ptrdiff_t>(row));
  sent_.erase(sent_.begin() + static_cast<std::ptrdiff_t>(row));
  view_.DropTransfer(row);
  Queue([this, key, partial] { engine_->Remove(key, partial); });
}

void DownloadsModel::Activate(std::size_t row) {
  if (row < transfers_.size() && transfers_[row].phase == TransferPhase::kComplete) {
    Act(row, TransferAction::kOpenFile);
  }
}

}  // namespace sorrel
