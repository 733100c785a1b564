// Start-up and exit of the native Windows program: a later start hands its
// argument to the running window and ends; the first one makes the platform
// services (whose regular-expression engines open COM on this thread), the
// window, the program that its buttons drive, and runs the message loop.
#include <windows.h>

#include "app/engines.h"
#include "app/win32/main_window.h"
#include "app/win32/single_window.h"
#include "app/window_controller.h"
#include "resolve/service_origin.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  const std::wstring argument = sorrel::HandedArgument(GetCommandLineW());
  const sorrel::SessionLock session;
  if (session.HandOver(argument)) return 0;
  // Leaving the inner scope is the exit routine: the window logic with the
  // program behind it, then the window go; COM is closed last, with these
  // services.
  const sorrel::PlatformServices services = sorrel::PlatformEngines();
  {
    sorrel::MainWindow window(instance, sorrel::ServiceOrigin());
    if (!window.Created()) return 1;
    sorrel::WindowController controller(services, window, sorrel::ServiceOrigin());
    window.Bind(controller);
    window.Show(showCommand);
    if (!argument.empty()) window.OpenHanded(argument);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      sorrel::MainWindow::Dispatch(window.Handle(), message);
    }
  }
  return 0;
}
