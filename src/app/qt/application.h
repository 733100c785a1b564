// Start-up and exit of the Linux program: the window and the program that
// its two buttons drive.
#pragma once

#include "app/platform_services.h"
#include "app/program.h"
#include "app/qt/main_window.h"

namespace sorrel {

class Application {
 public:
  explicit Application(PlatformServices services, const Text& serviceOrigin);
  // The platform's engines over `stack` and `windows`, which outlive the
  // application.
  Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin);
  ~Application();

  MainWindow& Window() { return window_; }
  ProgramState& State() { return program_.State(); }
  Resolver& Workflows() { return program_.Workflows(); }

 private:
  MainWindow window_;
  Program program_;
};

}  // namespace sorrel
