// Start-up and exit of the Linux program: the program-wide state, the
// platform services, the window and the binding of its two buttons.
#pragma once

#include <memory>

#include "app/qt/main_window.h"
#include "http/web_access.h"
#include "resolve/program_state.h"
#include "resolve/resolver.h"

namespace sorrel {

class HttpStack;
class WindowSystem;

class Application {
 public:
  // `stack` and `windows` outlive the application (abandoned request
  // workers may still use the stack while the process ends).
  Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin);
  ~Application();

  MainWindow& Window() { return window_; }
  ProgramState& State() { return state_; }
  Resolver& Workflows() { return resolver_; }

 private:
  ProgramState state_;
  MainWindow window_;
  WebClient web_;
  Resolver resolver_;
};

}  // namespace sorrel
