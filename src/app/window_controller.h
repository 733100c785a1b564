// What both windows do, written once: the program behind them, the guards
// that keep keys from starting a run inside another, a download manager's
// link shown at once, the clipboard offer, and the result box's menu. A
// window turns its events into the calls below and draws what the
// controller asks of it through WindowView; it keeps no logic of its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/address_intake.h"
#include "app/program.h"
#include "app/window_view.h"

namespace sorrel {

enum class ResultAction {
  kCopyNormal,
  kCopyThunder,
  kCopyFlashGet,
  kSendToAria2,
  kCheckLink,
  kSettings,
};

struct ResultMenuItem {
  ResultAction action;
  std::u16string text;
  bool enabled;
  // A line goes between this item and the one before it.
  bool separated;
};

// What a check of the normal address found, as the window says it.
struct CheckReport {
  std::u16string text;
  bool expired = false;
};

// The result box's engine items: send, check, settings. A build without a
// download engine hands none, and its menu has the copy items only.
class EngineItems {
 public:
  virtual ~EngineItems() = default;
  // `normal` and `page` (the address box) are UTF-8.
  virtual void Send(const std::string& normal, const std::string& page) = 0;
  // Checks off the window's thread; `done` runs on it.
  virtual void Check(const std::string& normal, std::function<void(const CheckReport&)> done) = 0;
  virtual bool Checking() const = 0;
  virtual void EditSettings() = 0;
  // Whether a link opened from outside goes on to the engine.
  virtual bool SendsOpenedLinks() = 0;
  // The proxy text of the window's requests to `address`.
  virtual std::string Proxy(std::string_view address) = 0;
};

class WindowController : public ResolverView {
 public:
  // `view` outlives the controller. `serviceOrigin` is the service's scheme
  // and host without a trailing "/".
  WindowController(PlatformServices services, WindowView& view, const Text& serviceOrigin);
  ~WindowController() override;
  WindowController(const WindowController&) = delete;
  WindowController& operator=(const WindowController&) = delete;

  Program& Core() { return program_; }
  // The engine items, or none; `engine` outlives its use here.
  void SetEngine(EngineItems* engine) { engine_ = engine; }

  // The two buttons: they run as they always have, a refresh nested in a
  // running resolution included.
  void ResolveClicked();
  void RefreshClicked();
  // F5 and a click on the captcha picture, and Enter in either box: never
  // while another run the window started is under way.
  void RefreshKey();
  void EnterInAddressBox();
  void EnterInCaptchaBox();
  // Every change of the address box; `typed` when the user made it.
  void AddressChanged(std::u16string_view text, bool typed);
  // The focus moved from the address box to another control of the window.
  void AddressLeft();
  void Activated();
  void Deactivated();

  // Opens an address handed to the window from outside (a command line, the
  // clipboard): a wrapped download-manager link is shown decoded in the
  // result box with no request; a file page of the service goes into the
  // address box and its captcha is fetched once; anything else gets one
  // notice and changes nothing. False when nothing was opened.
  bool OpenAddress(std::u16string_view text);
  // Opens a later start's text, unless it is blank; a link goes on to the
  // engine when the user's settings say so.
  void OpenHanded(std::u16string_view text);
  // Puts `text` on the clipboard as the window's own copy, which the window
  // does not take back into the address box.
  void CopyToClipboard(std::u16string_view text);

  // The result box's menu as it stands now, and the choice of one item.
  // Items that act on addresses are enabled only while the result box shows
  // those addresses; a disabled item does nothing.
  std::vector<ResultMenuItem> ResultMenu();
  void Choose(ResultAction action);

  Text AddressText() override;
  Text CaptchaText() override;
  void SetResultText(const Text& text) override;
  void SetResolveButton(bool enabled, const Text& caption) override;
  void SetPicture(const ByteSet& picture) override;
  ByteSet Picture() override;
  // A proxy that failed the run speaks in place of the run's own notice:
  // the user's network setting, not the service, is where to look.
  void ShowMessage(const Text& message) override;
  // The window has already shown the run's texts, which say it all, but for
  // a proxy's failure that no notice told.
  void ReportOutcome(ResolveOutcome outcome) override;
  void ProcessPendingEvents() override;

 private:
  class Run;
  void RunRefresh();
  void RunResolve();
  // The address box's wrapped link shown decoded; false for a link that
  // does not decode, after its notice.
  bool ShowWrappedLink(const std::u16string& link);
  void SetAddress(const std::u16string& text);
  void OfferClipboard();
  AddressKind KindOf(std::u16string_view text) const;
  void ShowCheck(const CheckReport& report);
  // The link each copy item copies, while the result box shows it.
  std::optional<Text> Offered(ResultAction action);

  WindowView& view_;
  std::string origin_;  // UTF-8
  Program program_;
  EngineItems* engine_ = nullptr;
  // The requests of a click take the road the settings say now.
  void ChooseRoad();
  // The sentence of the proxy's failure in the current run, UTF-16; empty
  // when the proxy did not fail it.
  std::u16string ProxySentence();
  std::string proxy_;
  bool noticeShown_ = false;
  std::shared_ptr<WindowThread> thread_;
  int running_ = 0;
  // The result box's text as last written (code page 936).
  Text result_;
  ByteSet picture_;
  ClipboardOffer clipboard_;
  // The address box's last two texts, for what an edit put in; the last
  // link that was decoded or refused, so that leaving the box does not ask
  // twice.
  std::u16string address_;
  std::u16string addressBefore_;
  std::u16string linkHandled_;
  bool settingAddress_ = false;
};

}  // namespace sorrel
