#include "app/window_controller.h"

#include <algorithm>
#include <utility>

#include "http/proxy.h"
#include "resolve/link_codec.h"
#include "resolve/texts.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

std::u16string Wide(std::string_view gbk) { return DecodeCodePage(gbk, kCodePageGbk); }
Text Typed(std::u16string_view text) { return EncodeCodePage(text, kCodePageGbk); }
std::string Utf8(std::u16string_view text) { return EncodeCodePage(text, kCodePageUtf8); }
std::u16string FromUtf8(std::string_view text) { return DecodeCodePage(text, kCodePageUtf8); }

// How many characters one edit put in: more than one is a paste, a drop or
// an input method's word, not a key typed.
std::size_t InsertedCount(std::u16string_view before, std::u16string_view after) {
  std::size_t prefix = 0;
  const std::size_t shorter = std::min(before.size(), after.size());
  while (prefix < shorter && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < shorter - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  return after.size() - prefix - suffix;
}

bool IsBlank(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
  });
}

}  // namespace

// One run the window started, counted while it lasts.
class WindowController::Run {
 public:
  explicit Run(WindowController& controller) : running_(controller.running_) { ++running_; }
  ~Run() { --running_; }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

 private:
  int& running_;
};

WindowController::WindowController(PlatformServices services, WindowView& view,
                                   const Text& serviceOrigin)
    : view_(view),
      origin_(GbkToUtf8(serviceOrigin)),
      program_(std::move(services), *this, serviceOrigin),
      thread_(WindowThread::Open(view)),
      clipboard_(program_.Services().base64) {}

WindowController::~WindowController() { thread_->Close(); }

void WindowController::ChooseRoad() {
  proxy_ = engine_ != nullptr ? engine_->Proxy(origin_) : std::string();
  program_.Workflows().SetProxy(proxy_);
  noticeShown_ = false;
}

std::u16string WindowController::ProxySentence() {
  return FromUtf8(ProxyFailureSentence(program_.Workflows().ProxyFailure(), proxy_,
                                       Utf8(view_.ControlText(ControlRole::kAddressBox)),
                                       ProcessEnvironment()));
}

void WindowController::ResolveClicked() {
  Run run(*this);
  ChooseRoad();
  program_.Workflows().ResolveDownloadAddresses();
}

void WindowController::RefreshClicked() {
  Run run(*this);
  ChooseRoad();
  program_.Workflows().RefreshCaptcha();
}

void WindowController::RefreshKey() { RunRefresh(); }

void WindowController::RunRefresh() {
  if (running_ > 0) return;
  RefreshClicked();
}

void WindowController::RunResolve() {
  if (running_ > 0 || !view_.IsEnabled(ControlRole::kResolveButton)) return;
  ResolveClicked();
}

void WindowController::EnterInAddressBox() {
  const std::u16string text = view_.ControlText(ControlRole::kAddressBox);
  if (KindOf(text) == AddressKind::kWrappedLink) {
    ShowWrappedLink(text);
  } else {
    RunRefresh();
  }
}

void WindowController::EnterInCaptchaBox() { RunResolve(); }

void WindowController::AddressChanged(std::u16string_view text, bool typed) {
  // A toolkit may tell one change twice, once as a change and once as the
  // user's: the text before it is the one before the first.
  if (text != address_) {
    addressBefore_ = std::exchange(address_, std::u16string(text));
  }
  if (!typed || settingAddress_ || InsertedCount(addressBefore_, address_) <= 1) return;
  if (KindOf(address_) == AddressKind::kWrappedLink) ShowWrappedLink(address_);
}

void WindowController::AddressLeft() {
  // A link typed key by key is read when the user moves on, not while it is
  // half typed.
  const std::u16string text = view_.ControlText(ControlRole::kAddressBox);
  if (text != linkHandled_ && KindOf(text) == AddressKind::kWrappedLink) ShowWrappedLink(text);
}

void WindowController::Activated() {
  // After the activation has settled, not inside it: the captcha request
  // that may follow processes events while it waits.
  thread_->Post([this] { OfferClipboard(); });
}

void WindowController::Deactivated() { clipboard_.NoteLeft(Utf8(view_.Clipboard())); }

void WindowController::OfferClipboard() {
  if (running_ > 0 || !view_.IsActive()) return;
  const std::u16string text = view_.Clipboard();
  if (clipboard_.Take(Utf8(text), Utf8(view_.ControlText(ControlRole::kAddressBox)), origin_)) {
    OpenAddress(text);
  }
}

bool WindowController::OpenAddress(std::u16string_view text) {
  const std::string address = TrimmedAddress(Utf8(text));
  const std::u16string shown = FromUtf8(address);
  switch (KindOfAddress(address, origin_)) {
    case AddressKind::kWrappedLink:
      if (!ShowWrappedLink(shown)) return false;
      SetAddress(shown);
      return true;
    case AddressKind::kFilePage:
      if (running_ > 0) return false;
      SetAddress(shown);
      RunRefresh();
      return true;
    case AddressKind::kOther:
      break;
  }
  ShowMessage(UnknownAddressNotice(origin_));
  return false;
}

void WindowController::OpenHanded(std::u16string_view text) {
  if (IsBlank(text)) return;
  const bool link = IsWrappedLink(TrimmedAddress(Utf8(text)));
  if (OpenAddress(text) && link && engine_ != nullptr && engine_->SendsOpenedLinks()) {
    Choose(ResultAction::kSendToAria2);
  }
}

void WindowController::CopyToClipboard(std::u16string_view text) {
  clipboard_.NoteOwnCopy(Utf8(text));
  view_.SetClipboard(text);
}

bool WindowController::ShowWrappedLink(const std::u16string& link) {
  linkHandled_ = link;
  const OpenedLink opened = OpenWrappedLink(program_.Services().base64, Utf8(link));
  if (!opened.ok) {
    ShowMessage(opened.notice);
    return false;
  }
  KeepOpenedLink(opened, program_.State());
  SetResultText(opened.resultText);
  return true;
}

void WindowController::SetAddress(const std::u16string& text) {
  settingAddress_ = true;
  view_.SetControlText(ControlRole::kAddressBox, text);
  settingAddress_ = false;
  AddressChanged(text, false);
}

AddressKind WindowController::KindOf(std::u16string_view text) const {
  return KindOfAddress(Utf8(text), origin_);
}

std::optional<Text> WindowController::Offered(ResultAction action) {
  const ProgramState& state = program_.State();
  // The three addresses kept between clicks are offered only while the
  // result box shows them: after a failure text, or a text that no longer
  // matches them, they belong to another file.
  if (result_ != ResultText(state.NormalLink, state.ThunderLink, state.FlashGetLink)) {
    return std::nullopt;
  }
  const Text& link = action == ResultAction::kCopyThunder    ? state.ThunderLink
                     : action == ResultAction::kCopyFlashGet ? state.FlashGetLink
                                                             : state.NormalLink;
  if (link.empty()) return std::nullopt;
  return link;
}

std::vector<ResultMenuItem> WindowController::ResultMenu() {
  std::vector<ResultMenuItem> items = {
      {ResultAction::kCopyNormal, u"复制普通下载地址",
       Offered(ResultAction::kCopyNormal).has_value(), false},
      {ResultAction::kCopyThunder, u"复制迅雷下载地址",
       Offered(ResultAction::kCopyThunder).has_value(), false},
      {ResultAction::kCopyFlashGet, u"复制快车下载地址",
       Offered(ResultAction::kCopyFlashGet).has_value(), false},
  };
  if (engine_ != nullptr) {
    const bool resolved = Offered(ResultAction::kCopyNormal).has_value();
    items.push_back({ResultAction::kSendToAria2, u"发送到 aria2 下载", resolved, true});
    items.push_back(
        {ResultAction::kCheckLink, u"检查链接", resolved && !engine_->Checking(), false});
    items.push_back({ResultAction::kSettings, u"下载设置...", true, true});
  }
  return items;
}

void WindowController::Choose(ResultAction action) {
  const std::vector<ResultMenuItem> items = ResultMenu();
  const auto item = std::find_if(items.begin(), items.end(),
                                 [action](const ResultMenuItem& i) { return i.action == action; });
  if (item == items.end() || !item->enabled) return;
  switch (action) {
    case ResultAction::kCopyNormal:
    case ResultAction::kCopyThunder:
    case ResultAction::kCopyFlashGet:
      CopyToClipboard(Wide(*Offered(action)));
      return;
    case ResultAction::kSendToAria2:
      engine_->Send(GbkToUtf8(*Offered(ResultAction::kCopyNormal)),
                    Utf8(view_.ControlText(ControlRole::kAddressBox)));
      return;
    case ResultAction::kCheckLink:
      engine_->Check(GbkToUtf8(*Offered(ResultAction::kCopyNormal)),
                     [this](const CheckReport& report) { ShowCheck(report); });
      return;
    case ResultAction::kSettings:
      engine_->EditSettings();
      return;
  }
}

void WindowController::ShowCheck(const CheckReport& report) {
  if (!report.expired) {
    view_.Notice(u"检查链接", report.text);
    return;
  }
  // A new captcha for the same page; the address box stays as it is.
  if (view_.Ask(u"检查链接", report.text + u"\r\n\r\n要重新获取验证码吗？")) RefreshClicked();
}

Text WindowController::AddressText() { return Typed(view_.ControlText(ControlRole::kAddressBox)); }

Text WindowController::CaptchaText() { return Typed(view_.ControlText(ControlRole::kCaptchaBox)); }

void WindowController::SetResultText(const Text& text) {
  result_ = text;
  view_.SetControlText(ControlRole::kResultBox, Wide(text));
}

void WindowController::SetResolveButton(bool enabled, const Text& caption) {
  // A disabled button cannot keep the keyboard: it goes to the captcha box.
  if (!enabled && view_.HasFocus(ControlRole::kResolveButton)) {
    view_.Focus(ControlRole::kCaptchaBox);
  }
  view_.SetEnabled(ControlRole::kResolveButton, enabled);
  view_.SetControlText(ControlRole::kResolveButton, Wide(caption));
}

void WindowController::SetPicture(const ByteSet& picture) {
  const std::optional<PictureFormat> drawn = view_.DrawnPictureFormat();
  const ByteSet shown =
      picture.empty() || !drawn ? picture : program_.Services().pictures.Reencode(picture, *drawn);
  if (!shown.empty() && view_.ShowPicture(shown)) {
    picture_ = picture;
    // A new captcha wants new letters.
    view_.SetControlText(ControlRole::kCaptchaBox, u"");
    view_.Focus(ControlRole::kCaptchaBox);
  } else {
    view_.ShowPicture({});
    picture_.clear();
  }
}

ByteSet WindowController::Picture() { return picture_; }

void WindowController::ShowMessage(const Text& message) {
  const std::u16string proxy = running_ > 0 ? ProxySentence() : std::u16string();
  noticeShown_ = true;
  view_.ShowMessage(Wide(texts::MessageBoxTitle()), proxy.empty() ? Wide(message) : proxy);
}

void WindowController::ReportOutcome(ResolveOutcome outcome) {
  if (noticeShown_ ||
      (outcome != ResolveOutcome::kUnreachable && outcome != ResolveOutcome::kTimedOut)) {
    return;
  }
  const std::u16string proxy = ProxySentence();
  if (!proxy.empty()) view_.ShowMessage(Wide(texts::MessageBoxTitle()), proxy);
}

void WindowController::ProcessPendingEvents() { view_.ProcessPendingEvents(); }

}  // namespace sorrel
