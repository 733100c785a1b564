// Start-up and exit of the native Windows program: the platform services
// (whose regular-expression engines open COM on this thread), the window,
// the program that its two buttons drive, and the message loop.
#include <windows.h>

#include "app/program.h"
#include "app/win32/main_window.h"
#include "app/win32/platform_win32.h"
#include "resolve/service_origin.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // Leaving the inner scope is the exit routine: the program, then the
  // window go; COM is closed last, with these services.
  const sorrel::PlatformServices services = sorrel::Win32PlatformServices();
  {
    sorrel::MainWindow window(instance, sorrel::ServiceOrigin());
    if (!window.Created()) return 1;
    sorrel::Program program(services, window, sorrel::ServiceOrigin());
    window.Bind(program.Workflows());
    window.Show(showCommand);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      sorrel::MainWindow::Dispatch(window.Handle(), message);
    }
  }
  return 0;
}
