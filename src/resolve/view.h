// What the two workflows need of their front end. The front ends implement
// it; a test implements it without any window. Every method is pure: a front
// end that has nothing to do for one says so in its own override.
#pragma once

#include "resolve/outcome.h"
#include "support/event_pump.h"
#include "text/text.h"

namespace sorrel {

class ResolverView : public EventPump {
 public:
  // The address box and the captcha box, as typed.
  virtual Text AddressText() = 0;
  virtual Text CaptchaText() = 0;
  // Replaces the whole text of the result box.
  virtual void SetResultText(const Text& text) = 0;
  virtual void SetResolveButton(bool enabled, const Text& caption) = 0;
  // Shows a picture (bytes of a file the picture box can show); empty bytes
  // leave the box empty. Picture() reads back what is shown, empty when none.
  virtual void SetPicture(const ByteSet& picture) = 0;
  virtual ByteSet Picture() = 0;
  // The plain message box: task-modal, one OK button, no owner, titled
  // "信息："; returns when the user has closed it.
  virtual void ShowMessage(const Text& message) = 0;
  // Called once at the end of each run that the front end started (not for
  // the captcha refresh a resolution runs itself), after every text of it.
  virtual void ReportOutcome(ResolveOutcome outcome) = 0;
  // Waiting requests call it often; a window handles its queued messages.
  void ProcessPendingEvents() override = 0;
};

}  // namespace sorrel
