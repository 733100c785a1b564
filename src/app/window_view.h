// What the window logic asks of a window: its controls by role, the
// clipboard, its boxes, and a way back onto its thread. The Qt and the Win32
// windows implement it with their controls, the logic's tests with none.
// Texts are UTF-16 as both toolkits keep them, line breaks CR LF; the logic
// converts them to and from code page 936 and UTF-8 where it needs them.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/main_window_layout.h"
#include "support/event_pump.h"
#include "support/picture.h"

namespace sorrel {

class WindowView : public EventPump {
 public:
  // The text of an edit box or the caption of a button. The result box shows
  // the start of a new text.
  virtual std::u16string ControlText(ControlRole control) = 0;
  virtual void SetControlText(ControlRole control, std::u16string_view text) = 0;
  virtual bool IsEnabled(ControlRole control) = 0;
  virtual void SetEnabled(ControlRole control, bool enabled) = 0;
  virtual bool HasFocus(ControlRole control) = 0;
  virtual void Focus(ControlRole control) = 0;

  // The file format the picture box draws; none, unless a window says
  // otherwise, as it draws whatever the service sent.
  virtual std::optional<PictureFormat> DrawnPictureFormat() { return std::nullopt; }
  // Draws a picture file (in that format); false when it cannot. Empty
  // bytes empty the box.
  virtual bool ShowPicture(const ByteSet& picture) = 0;

  // True while the window is the active one and no box of its own is open.
  virtual bool IsActive() = 0;
  // The clipboard's text; empty when it holds none or is busy.
  virtual std::u16string Clipboard() = 0;
  virtual void SetClipboard(std::u16string_view text) = 0;

  // The workflows' plain message box: task-modal, one OK button, no owner
  // window. Returns when the user has closed it.
  virtual void ShowMessage(std::u16string_view title, std::u16string_view message) = 0;
  // A box owned by the window, with one OK button, or Yes and No (Yes
  // first); true for Yes.
  virtual void Notice(std::u16string_view title, std::u16string_view text) = 0;
  virtual bool Ask(std::u16string_view title, std::u16string_view question) = 0;

  // Runs `task` on the window's thread after the events already waiting.
  // Callable from any thread while the window lives; WindowThread makes that
  // safe for workers that may outlive it.
  virtual void Later(std::function<void()> task) = 0;
};

// The way back onto a window's thread for work that ends on another one.
// Workers may hold it beyond the life of its owner: once the owner has
// closed it, whatever they post is dropped, and so is whatever was posted
// and has not run yet.
class WindowThread : public std::enable_shared_from_this<WindowThread> {
 public:
  static std::shared_ptr<WindowThread> Open(WindowView& view) {
    return std::shared_ptr<WindowThread>(new WindowThread(view));
  }

  void Post(std::function<void()> task) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (view_ == nullptr) return;
    view_->Later([self = shared_from_this(), task = std::move(task)] {
      if (self->IsOpen()) task();
    });
  }
  // On the window's thread, before the owner goes.
  void Close() {
    std::lock_guard<std::mutex> hold(mutex_);
    view_ = nullptr;
  }

 private:
  explicit WindowThread(WindowView& view) : view_(&view) {}
  bool IsOpen() {
    std::lock_guard<std::mutex> hold(mutex_);
    return view_ != nullptr;
  }

  std::mutex mutex_;
  WindowView* view_;
};

}  // namespace sorrel
