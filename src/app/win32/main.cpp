// Start-up and exit of the native Windows program: the program-wide state
// (whose regular-expression object initialises COM on this thread), the
// window, the binding of its two buttons and the message loop.
#include <windows.h>

#include "app/win32/main_window.h"
#include "http/web_access.h"
#include "http/wininet_stack.h"
#include "resolve/program_state.h"
#include "resolve/resolver.h"
#include "resolve/service_origin.h"
#include "support/regex_object.h"
#include "support/windows_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  // Request workers abandoned at a time-out may still be using the stack
  // while the process ends, so it is never destroyed.
  static auto* stack = new sorrel::WinInetHttpStack();
  sorrel::Win32WindowSystem windows;
  {
    // Leaving this scope is the exit routine: the resolver, the window and
    // then the program-wide state go, COM last of all.
    sorrel::ProgramState state(sorrel::MakePlatformRegexObject());
    sorrel::MainWindow window(instance, sorrel::ServiceOrigin());
    if (!window.Created()) return 1;
    sorrel::WebClient web(*stack, window, windows);
    sorrel::Resolver resolver(state, web, window, sorrel::ServiceOrigin());
    window.Bind(resolver);
    window.Show(showCommand);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      sorrel::MainWindow::Dispatch(window.Handle(), message);
    }
  }
  return 0;
}
