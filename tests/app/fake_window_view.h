// A window without a window, for the window logic's tests: it keeps the
// controls' texts and states, the clipboard and the boxes asked for, and
// runs what the logic hands to Later when the test says so.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/window_view.h"

namespace sorrel::test {

class FakeWindowView : public WindowView {
 public:
  std::map<ControlRole, std::u16string> texts;
  std::map<ControlRole, bool> disabled;
  ControlRole focus = ControlRole::kAddressBox;
  std::optional<PictureFormat> drawnFormat;
  ByteSet shownPicture;
  bool active = true;
  std::u16string clipboard;
  // "title|text" of every box, in order.
  std::vector<std::u16string> boxes;
  bool answer = true;
  std::function<void()> onPump;

  std::u16string ControlText(ControlRole control) override { return texts[control]; }
  void SetControlText(ControlRole control, std::u16string_view text) override {
    texts[control] = std::u16string(text);
  }
  bool IsEnabled(ControlRole control) override { return !disabled[control]; }
  void SetEnabled(ControlRole control, bool enabled) override { disabled[control] = !enabled; }
  bool HasFocus(ControlRole control) override { return focus == control; }
  void Focus(ControlRole control) override { focus = control; }
  std::optional<PictureFormat> DrawnPictureFormat() override { return drawnFormat; }
  bool ShowPicture(const ByteSet& picture) override {
    shownPicture = picture;
    return !picture.empty() && picture != BytesOf("undrawable");
  }
  bool IsActive() override { return active; }
  std::u16string Clipboard() override { return clipboard; }
  void SetClipboard(std::u16string_view text) override { clipboard = text; }
  void ShowMessage(std::u16string_view title, std::u16string_view message) override {
    Box(title, message);
  }
  void Notice(std::u16string_view title, std::u16string_view text) override { Box(title, text); }
  bool Ask(std::u16string_view title, std::u16string_view question) override {
    Box(title, question);
    return answer;
  }
  // From any thread, as a window takes it.
  void Later(std::function<void()> task) override {
    std::lock_guard<std::mutex> hold(laterMutex_);
    later_.push_back(std::move(task));
  }
  void ProcessPendingEvents() override {
    // A hook runs once, like one queued click.
    if (onPump) std::exchange(onPump, nullptr)();
  }

  // Runs what is waiting, as the window's next turn of its loop would.
  void RunLater() {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> hold(laterMutex_);
      tasks.swap(later_);
    }
    for (auto& task : tasks) task();
  }

 private:
  std::mutex laterMutex_;
  std::deque<std::function<void()>> later_;

  void Box(std::u16string_view title, std::u16string_view text) {
    boxes.push_back(std::u16string(title) + u"|" + std::u16string(text));
  }
};

}  // namespace sorrel::test
