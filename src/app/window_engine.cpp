#include "app/window_engine.h"

#include <utility>

#include "download/link_check.h"
#include "http/worker_thread.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

std::u16string Wide(std::string_view utf8) { return DecodeCodePage(utf8, kCodePageUtf8); }

CheckReport ReportOf(const LinkCheck& check) {
  return {
      Wide("文件名：" + check.name + "\r\n大小：" + HumanSize(check.size) + "\r\n状态：" +
           (check.proxyProblem.empty() ? LinkStatusSentence(check.status) : check.proxyProblem)),
      check.status == LinkStatus::kExpired};
}

}  // namespace

WindowEngine::WindowEngine(const EngineAccess& engines, WindowView& window, EngineView& front,
                           SettingsStore& settings)
    : engines_(engines),
      window_(window),
      front_(front),
      settings_(settings),
      thread_(WindowThread::Open(window)) {}

WindowEngine::~WindowEngine() {
  downloads_.reset();
  thread_->Close();
}

void WindowEngine::Send(const std::string& normal, const std::string& page) {
  if (!downloads_)
    downloads_ = std::make_unique<DownloadsModel>(engines_, front_.OpenDownloads(), window_);
  DownloadSettings settings = settings_.Load();
  settings.proxy = Road(settings.proxy, normal);
  downloads_->Send(settings, normal, page);
}

ProxySetting WindowEngine::Road(ProxySetting setting, std::string_view address) {
  if (setting.kind != ProxyKind::kSystem) return setting;
  return ParseProxyUrl(front_.SystemProxy(address)).value_or(ProxySetting{});
}

std::string WindowEngine::Proxy(std::string_view address) {
  return ProxyText(Road(settings_.Load().proxy, address));
}

void WindowEngine::Check(const std::string& normal, std::function<void(const CheckReport&)> done) {
  checking_ = true;
  auto finished = [this, done = std::move(done)](const LinkCheck& check) {
    checking_ = false;
    done(ReportOf(check));
  };
  // The check waits on the network; the window stays with the user.
  auto worker = engines_.threads.Start(
      [engines = engines_, thread = thread_, normal, finished, proxy = Proxy(normal)]() mutable {
        const LinkCheck check =
            CheckLink(engines.http, engines.threads, normal, engines.agent, 15000, proxy);
        thread->Post([check, finished] { finished(check); });
      });
  if (!worker) finished(LinkCheck{});
}

void WindowEngine::EditSettings() {
  DownloadSettings settings = settings_.Load();
  if (!front_.EditSettings(settings)) return;
  if (!settings_.Save(settings.Kept())) {
    window_.Notice(Wide(settings_texts::kNotSavedTitle), Wide(settings_texts::kNotSaved));
  }
}

bool WindowEngine::SendsOpenedLinks() { return settings_.Load().sendOpenedLinks; }

}  // namespace sorrel
