// Start-up and exit of the Linux program: the window, the window logic with
// the program behind it, the result box's menu and its engine items.
#pragma once

#include <QObject>
#include <memory>
#include <thread>

#include "app/platform_services.h"
#include "app/qt/downloads_window.h"
#include "app/qt/main_window.h"
#include "app/qt/result_menu.h"
#include "app/window_controller.h"
#include "app/window_engine.h"

namespace sorrel {

class Application : private EngineView {
 public:
  explicit Application(PlatformServices services, const Text& serviceOrigin);
  // The platform's engines over `stack` and `windows`, which outlive the
  // application.
  Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin);
  ~Application() override;

  MainWindow& Window() { return window_; }
  WindowController& Controller() { return controller_; }
  // Once the window has painted for the first time, does on a thread of its
  // own what the first clicks would otherwise wait for (the platform's
  // engines warmed), so that they feel like every later one.
  void WarmAfterFirstPaint();
  ProgramState& State() { return controller_.Core().State(); }
  Resolver& Workflows() { return controller_.Core().Workflows(); }
  ResultMenu& Menu() { return menu_; }
  WindowEngine& Engine() { return engine_; }
  // The downloads window; null before the first send.
  DownloadsWindow* Downloads() const { return downloads_.get(); }

 private:
  class FirstPaint : public QObject {
   public:
    explicit FirstPaint(Application& application) : application_(application) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

   private:
    Application& application_;
  };

  DownloadsView& OpenDownloads() override;
  bool EditSettings(DownloadSettings& settings) override;
  std::string SystemProxy(std::string_view address) override;

  MainWindow window_;
  WindowController controller_;
  std::unique_ptr<DownloadsWindow> downloads_;
  WindowEngine engine_;
  ResultMenu menu_{window_, controller_};
  FirstPaint firstPaint_{*this};
  std::thread warm_;
};

}  // namespace sorrel
