// What was sent to aria2, for the downloads window of either front end: each
// transfer's name, progress, speed and state. The engine is spoken to on a
// thread of the model's own, which asks it about the transfers under way
// twice a second, so that a slow or dead engine never holds up a window.
// What a transfer offers (pause, go on, remove, retry, open) is decided here
// and done through the engine's thread; each window only draws the list and
// its menu. Texts are UTF-8; those of the engine are shown as plain text.
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

// Where a transfer stands, as far as what it offers goes: an engine that
// refused, failed or went away leaves it failed.
enum class TransferPhase { kWaiting, kActive, kPaused, kComplete, kFailed };

enum class TransferAction { kPause, kResume, kRemove, kRetry, kOpenFile, kOpenFolder };

struct Transfer {
  std::string name;
  std::string gid;  // empty when the engine did not take it
  int permille = 0;
  std::string speed;  // "1.5 KB/s" while it runs
  std::string state;
  std::string detail;  // the whole sentence on a failure
  TransferPhase phase = TransferPhase::kWaiting;
  // The file on this machine, directly in the download folder given to the
  // engine; empty while that is not known.
  std::string path;
};

class DownloadsModel;

class DownloadsView {
 public:
  virtual ~DownloadsView() = default;
  // The model the window's menu and double-click act on; null once it has
  // gone.
  virtual void Bind(DownloadsModel* model) = 0;
  // Shows the window and brings it to the front.
  virtual void Raise() = 0;
  // Draws transfer `row`, its name included; the row after the last is a
  // new one.
  virtual void ShowTransfer(std::size_t row, const Transfer& transfer) = 0;
  // Takes transfer `row` out of the list; the rows after it move up.
  virtual void DropTransfer(std::size_t row) = 0;
  // Boxes owned by the window: Yes and No (Yes first), true for Yes; and
  // one with an OK button.
  virtual bool Ask(const std::string& title, const std::string& question) = 0;
  virtual void Tell(const std::string& title, const std::string& text) = 0;
  // Opens a file or a folder as the desktop does; false when it could not.
  virtual bool OpenPath(const std::string& path) = 0;
};

namespace downloads_texts {
inline constexpr const char* kTitle = "aria2 下载";
inline constexpr const char* kColumns[] = {"文件名", "进度", "速度", "状态"};
// By TransferAction.
inline constexpr const char* kActions[] = {"暂停", "继续",     "删除",
                                           "重试", "打开文件", "打开所在文件夹"};
inline constexpr const char* kRemoveTitle = "删除下载";
inline constexpr const char* kRemoveQuestion = "还没有下载完。要删除它和已经下载的部分吗？";
inline constexpr const char* kOpenTitle = "打开";
inline constexpr const char* kNotOpened = "无法打开 ";
inline constexpr const char* kEngineTitle = "aria2 下载";
}  // namespace downloads_texts

// The downloads window's size and column widths (in the columns' order), as
// each front end keeps them in one line of text.
struct DownloadsLayout {
  int width = 640;
  int height = 240;
  std::vector<int> widths = {240, 120, 90, 160};
  bool operator==(const DownloadsLayout&) const = default;
};
// "640x240;240,120,90,160"
std::string LayoutText(const DownloadsLayout& layout);
// The layout a kept line gives; the first layout for a line that is not
// one, or one no screen shows.
DownloadsLayout ParseLayout(std::string_view text);

// The name of `reported` (an engine's path) when it lies directly in
// `folder`, else empty: an engine's word alone never points the tool at a
// file elsewhere. Either separator is taken on both sides.
std::string NameInFolder(std::string folder, std::string reported);

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

  // What transfer `row` offers now, in the menu's order.
  std::vector<TransferAction> Actions(std::size_t row) const;
  static const char* ActionText(TransferAction action);
  // Does `action` for transfer `row` unless it offers no such thing now. A
  // removal asks first when it would delete a partial file, and deletes
  // only that file and its control file (".aria2").
  void Act(std::size_t row, TransferAction action);
  // A double-click on transfer `row`: a finished one opens its file.
  void Activate(std::size_t row);

 private:
  class Engine;
  struct Progress;
  // What a row was sent with, to send it again.
  struct Sent {
    int key = 0;
    DownloadSettings settings;
    std::string normal;
    std::string page;
  };

  void Queue(std::function<void()> job);
  void Work();
  // `fresh`: a new row; else the row's transfer sent again.
  void Hand(const Sent& sent, bool fresh);
  void Added(int key, const std::string& name, const std::string& gid, const std::string& path,
             const std::string& error);
  void Show(const Progress& progress);
  void Failed(int key, const std::string& error);
  void Remove(std::size_t row);
  std::size_t RowOf(int key) const;

  DownloadsView& view_;
  std::shared_ptr<WindowThread> thread_;
  std::vector<Transfer> transfers_;
  std::vector<Sent> sent_;  // by row
  int nextKey_ = 1;
  // Touched on the engine's thread only.
  std::unique_ptr<Engine> engine_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};

}  // namespace sorrel
