// The window system of the Qt front end: the application's own top-level
// widgets stand for the desktop's top-level windows, and a QMessageBox for
// the platform's message box.
#pragma once

#include "support/window_system.h"

namespace sorrel {

// Style bits and button codes of the message box, as the notice callers use
// them.
enum MessageBoxStyle : int {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbAbortRetryIgnore = 0x2,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbRetryCancel = 0x5,
  kMbCancelTryContinue = 0x6,
  kMbIconHand = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
  kMbDefaultButton2 = 0x100,
  kMbDefaultButton3 = 0x200,
};
enum MessageBoxResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
  kIdTryAgain = 10,
  kIdContinue = 11,
};

// Needs a QApplication on the calling (GUI) thread; without one there are
// no windows and every box fails.
class QtWindowSystem : public WindowSystem {
 public:
  // Top-level widgets in the order their native windows were created, then
  // those never shown. The handle is the widget's address.
  std::vector<TopLevel> EnumerateTopLevelWindows() override;
  std::uint32_t CurrentProcessId() override;
  // A modal QMessageBox parented to `owner` when that is one of the
  // application's top-level widgets.
  int MessageBox(WindowHandle owner, const Text& message, const Text& title, int style) override;
};

}  // namespace sorrel
