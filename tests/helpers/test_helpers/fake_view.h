// A view without a window, for the workflow tests: it holds the controls'
// contents, records what the workflows show, and can run a hook while the
// workflows process pending events (a click arriving mid-request).
#pragma once

#include <functional>
#include <vector>

#include "resolve/texts.h"
#include "resolve/view.h"

namespace sorrel::test {

class FakeView : public ResolverView {
 public:
  Text address;
  Text captcha;
  Text result;
  bool buttonEnabled = true;
  Text buttonCaption = texts::RestCaption();
  ByteSet picture;
  std::vector<Text> messages;
  std::vector<ResolveOutcome> outcomes;
  std::vector<std::pair<bool, Text>> buttonHistory;
  int pumpCalls = 0;
  std::function<void()> onPump;
  std::function<void(const Text&)> onMessage;

  Text AddressText() override { return address; }
  Text CaptchaText() override { return captcha; }
  void SetResultText(const Text& text) override { result = text; }
  void SetResolveButton(bool enabled, const Text& caption) override {
    buttonEnabled = enabled;
    buttonCaption = caption;
    buttonHistory.emplace_back(enabled, caption);
  }
  void SetPicture(const ByteSet& bytes) override { picture = bytes; }
  ByteSet Picture() override { return picture; }
  void ShowMessage(const Text& message) override {
    messages.push_back(message);
    if (onMessage) onMessage(message);
  }
  void ReportOutcome(ResolveOutcome outcome) override { outcomes.push_back(outcome); }
  void ProcessPendingEvents() override {
    ++pumpCalls;
    if (onPump) {
      // A hook runs once, like one queued click.
      auto hook = std::move(onPump);
      onPump = nullptr;
      hook();
    }
  }
};

}  // namespace sorrel::test
