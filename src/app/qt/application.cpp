#include "app/qt/application.h"

#include <QEvent>
#include <QTimer>

#include "app/engines.h"
#include "app/qt/download_settings.h"

namespace sorrel {

Application::Application(PlatformServices services, const Text& serviceOrigin)
    : window_(serviceOrigin),
      controller_(std::move(services), window_, serviceOrigin),
      engine_(controller_.Core().Engines(), window_, *this, UserSettingsStore()) {
  window_.Bind(controller_);
  controller_.SetEngine(&engine_);
}

Application::Application(HttpStack& stack, WindowSystem& windows, const Text& serviceOrigin)
    : Application(PlatformEngines(&windows, &stack), serviceOrigin) {}

Application::~Application() {
  window_.removeEventFilter(&firstPaint_);
  if (warm_.joinable()) warm_.join();
}

DownloadsView& Application::OpenDownloads() {
  if (!downloads_) downloads_ = std::make_unique<DownloadsWindow>();
  return *downloads_;
}

std::string Application::SystemProxy(std::string_view address) { return DesktopProxy(address); }

bool Application::EditSettings(DownloadSettings& settings) {
  DownloadSettingsDialog dialog(settings, &window_);
  if (dialog.exec() != QDialog::Accepted) return false;
  settings = dialog.Settings();
  return true;
}

void Application::WarmAfterFirstPaint() { window_.installEventFilter(&firstPaint_); }

bool Application::FirstPaint::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Paint) {
    watched->removeEventFilter(this);
    // After this paint has reached the screen, not before it.
    QTimer::singleShot(0, watched, [this] {
      if (!application_.warm_.joinable()) application_.warm_ = std::thread(WarmPlatformEngines);
    });
  }
  return false;
}

}  // namespace sorrel
