// What the two workflows need of the window. The front ends implement it; a
// test implements it without any window.
#pragma once

#include "text/events.h"
#include "text/text.h"

namespace sorrel {

class ResolverView : public EventPump {
 public:
  // The address box and the captcha box, as typed.
  virtual Text AddressText() { return {}; }
  virtual Text CaptchaText() { return {}; }
  // Replaces the whole text of the result box.
  virtual void SetResultText(const Text& text) {}
  virtual void SetResolveButton(bool enabled, const Text& caption) {}
  // Shows a picture (bytes of a file the picture box can show); empty bytes
  // leave the box empty. Picture() reads back what is shown, empty when none.
  virtual void SetPicture(const ByteSet& picture) {}
  virtual ByteSet Picture() { return {}; }
  // The plain message box: task-modal, one OK button, no owner, titled
  // "信息："; returns when the user has closed it.
  virtual void ShowMessage(const Text& message) {}
};

}  // namespace sorrel
