// The result box's engine items over the download engine: the normal
// address sent to aria2 and watched in the downloads window, checked for its
// first byte, and the settings that say where it goes.
#pragma once

#include <memory>
#include <string>

#include "app/download_settings.h"
#include "app/downloads_model.h"
#include "app/engine_access.h"
#include "app/window_controller.h"
#include "app/window_view.h"

namespace sorrel {

// What the engine items ask of the front end beyond its main window.
class EngineView {
 public:
  virtual ~EngineView() = default;
  // The downloads window, made on first use; it lives as long as the front
  // end.
  virtual DownloadsView& OpenDownloads() = 0;
  // The settings dialog over `settings`; false when the user cancelled it.
  virtual bool EditSettings(DownloadSettings& settings) = 0;
  // The desktop's proxy for `address` as a proxy text of http/proxy.h;
  // empty when it names none.
  virtual std::string SystemProxy(std::string_view address) = 0;
};

class WindowEngine : public EngineItems {
 public:
  // Everything given outlives the engine items.
  WindowEngine(const EngineAccess& engines, WindowView& window, EngineView& front,
               SettingsStore& settings);
  ~WindowEngine() override;

  void Send(const std::string& normal, const std::string& page) override;
  void Check(const std::string& normal, std::function<void(const CheckReport&)> done) override;
  bool Checking() const override { return checking_; }
  void EditSettings() override;
  bool SendsOpenedLinks() override;
  std::string Proxy(std::string_view address) override;

  // The transfers sent so far; null before the first.
  const DownloadsModel* Downloads() const { return downloads_.get(); }

 private:
  EngineAccess engines_;
  WindowView& window_;
  EngineView& front_;
  SettingsStore& settings_;
  std::shared_ptr<WindowThread> thread_;
  std::unique_ptr<DownloadsModel> downloads_;
  bool checking_ = false;

  // The setting with the desktop's proxy for `address` in place of "system".
  ProxySetting Road(ProxySetting setting, std::string_view address);
};

}  // namespace sorrel
