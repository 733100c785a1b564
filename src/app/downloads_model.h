// What was sent to aria2, for the downloads window of either front end: each
// transfer's name, progress, speed and state. The engine is spoken to on a
// thread of the model's own, which asks it about the transfers under way
// twice a second, so that a slow or dead engine never holds up a window.
// Texts are UTF-8; those of the engine are shown as plain text.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/download_settings.h"
#include "app/engine_access.h"
#include "app/window_view.h"

namespace sorrel {

struct Transfer {
  std::string name;
  std::string gid;  // empty when the engine did not take it
  int permille = 0;
  std::string speed;  // "1.5 KB/s" while it runs
  std::string state;
  std::string detail;  // the whole sentence on a failure
};

class DownloadsView {
 public:
  virtual ~DownloadsView() = default;
  // Shows the window and brings it to the front.
  virtual void Raise() = 0;
  // Draws transfer `row`, its name included; the row after the last is a
  // new one.
  virtual void ShowTransfer(std::size_t row, const Transfer& transfer) = 0;
};

namespace downloads_texts {
inline constexpr const char* kTitle = "aria2 下载";
inline constexpr const char* kColumns[] = {"文件名", "进度", "速度", "状态"};
}  // namespace downloads_texts

class DownloadsModel {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{500};

  // `window` is the thread the view lives on; both outlive the model.
  DownloadsModel(const EngineAccess& engines, DownloadsView& view, WindowView& window);
  // Waits for the engine's thread, which may be inside one call to the
  // engine.
  ~DownloadsModel();
  DownloadsModel(const DownloadsModel&) = delete;
  DownloadsModel& operator=(const DownloadsModel&) = delete;

  // Shows the window and sends the address with `settings`.
  void Send(const DownloadSettings& settings, const std::string& normal, const std::string& page);
  const std::vector<Transfer>& Transfers() const { return transfers_; }

 private:
  class Engine;
  struct Progress;

  void Queue(std::function<void()> job);
  void Work();
  void Added(const std::string& name, const std::string& gid, const std::string& error);
  void Show(const Progress& progress);

  DownloadsView& view_;
  std::shared_ptr<WindowThread> thread_;
  std::vector<Transfer> transfers_;
  std::map<std::string, std::size_t> rows_;
  // Touched on the engine's thread only.
  std::unique_ptr<Engine> engine_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace sorrel
