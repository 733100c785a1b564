// Start-up and exit of the Linux program: the window and the program that
// its two buttons drive.
#pragma once

#include <QObject>
#include <thread>

#include "app/platform_services.h"
#include "app/program.h"
#include "app/qt/main_window.h"
#include "app/qt/result_menu.h"

namespace sorrel {

class Application {
 public:
  explicit Application(PlatformServices services, const Text& serviceOrigin);
  // The platform's engines over `stack` and `windows`, which outlive the
  // application.
  Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin);
  ~Application();

  MainWindow& Window() { return window_; }
  // Once the window has painted for the first time, does on a thread of its
  // own what the first clicks would otherwise wait for (the platform's
  // engines warmed), so that they feel like every later one.
  void WarmAfterFirstPaint();
  ProgramState& State() { return program_.State(); }
  Resolver& Workflows() { return program_.Workflows(); }
  ResultMenu& Menu() { return menu_; }

 private:
  class FirstPaint : public QObject {
   public:
    explicit FirstPaint(Application& application) : application_(application) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    Application& application_;
  };

  MainWindow window_;
  Program program_;
  ResultMenu menu_{window_, program_};
  FirstPaint firstPaint_{*this};
  std::thread warm_;
};

}  // namespace sorrel
