#include "app/win32/main_window.h"

// In this order: GDI+ needs IStream.
#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/address_intake.h"
#include "app/main_window_layout.h"
#include "app/program.h"
#include "app/win32/link_registration.h"
#include "resolve/resolver.h"
#include "resolve/texts.h"
#include "support/gdiplus_image.h"
#include "text/codepage.h"
#include "text/wide_win32.h"

namespace sorrel {

namespace {

constexpr int kFirstControlId = 100;
// Posted to itself: a later start's text, opened outside its WM_COPYDATA.
constexpr UINT kOpenHandedMessage = WM_APP + 1;

constexpr const wchar_t* kRegisterLinksItem = L"设为迅雷、快车、qqdl 链接的默认打开方式";
constexpr const wchar_t* kUnregisterLinksItem = L"撤销迅雷、快车、qqdl 链接的默认打开方式";
constexpr const wchar_t* kReplaceQuestion = L"迅雷、快车或 qqdl 链接现在由其他程序打开：\r\n\r\n";
constexpr const wchar_t* kReplaceQuestionEnd =
    L"\r\n要改由本工具打开吗？\r\n选“否”只登记还没有程序打开的链接。";
constexpr const wchar_t* kRegistryFailed = L"无法写入注册表，设置没有全部完成。";
constexpr const wchar_t* kCopyItems[] = {L"复制普通下载地址", L"复制迅雷下载地址",
                                         L"复制快车下载地址"};

std::wstring OwnPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Posted on activation: the clipboard is looked at once the activation has
// settled, since a captcha request may follow.
constexpr UINT kOfferClipboard = WM_APP + 2;
// The keyboard follows the road: address, refresh, captcha, resolve, result.
constexpr ControlRole kTabOrder[] = {ControlRole::kAddressBox, ControlRole::kRefreshButton,
                                     ControlRole::kCaptchaBox, ControlRole::kResolveButton,
                                     ControlRole::kResultBox};

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kGrey = RGB(128, 128, 128);

DWORD StyleOf(const ControlPlacement& placement) {
  // Overlapping controls paint in their z-order (the credit line lies on the
  // example text), except the three plain captions: they are transparent,
  // and the prompt above the captcha box would otherwise cut off the top of
  // "验证码：".
  const bool caption = placement.role == ControlRole::kAddressCaption ||
                       placement.role == ControlRole::kCaptchaCaption ||
                       placement.role == ControlRole::kCaptchaPrompt;
  const DWORD common = WS_CHILD | WS_VISIBLE | (caption ? 0 : WS_CLIPSIBLINGS);
  switch (placement.kind) {
    case ControlKind::Label:
      return common | SS_LEFT | SS_NOPREFIX;
    case ControlKind::Button:
      return common | WS_TABSTOP | BS_PUSHBUTTON;
    case ControlKind::Picture:
      // SS_NOTIFY: a click on the captcha fetches a new one.
      return common | SS_OWNERDRAW | SS_NOTIFY;
    case ControlKind::Edit:
      if (placement.role == ControlRole::kResultBox) {
        return common | WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_READONLY |
               ES_AUTOVSCROLL;
      }
      return common | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
  }
  return common;
}

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Button:
      return L"BUTTON";
    case ControlKind::Edit:
      return L"EDIT";
    case ControlKind::Label:
    case ControlKind::Picture:
      return L"STATIC";
  }
  return L"STATIC";
}

// The font the system uses for message boxes: the platform's default
// user-interface font, which covers the program's Chinese texts.
HFONT MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return CreateFontIndirectW(&metrics.lfMessageFont);
  }
  return nullptr;
}

// A screen-compatible bitmap of a picture file; null when it cannot be
// decoded.
HBITMAP DecodePicture(const ByteSet& picture) {
  GdiplusSession session;
  GdiplusImage image;
  if (!session.started() || !DecodeImage(picture, image)) return nullptr;
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const Gdiplus::ARGB background =
      0xFF000000u | GetRValue(face) << 16 | GetGValue(face) << 8 | GetBValue(face);
  HBITMAP bitmap = nullptr;
  Gdiplus::DllExports::GdipCreateHBITMAPFromBitmap(image.get(), &bitmap, background);
  return bitmap;
}

std::wstring WideText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  buffer.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return buffer;
}

std::string WideToUtf8(std::wstring_view wide) {
  return EncodeCodePage(std::u16string(wide.begin(), wide.end()), kCodePageUtf8);
}

std::wstring Utf8ToWide(std::string_view utf8) {
  const std::u16string wide = DecodeCodePage(utf8, kCodePageUtf8);
  return std::wstring(wide.begin(), wide.end());
}

// How many characters one change put in: more than one is a paste, a drop
// or an input method's word, not a key typed.
std::size_t InsertedCount(const std::wstring& before, const std::wstring& after) {
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

}  // namespace

std::wstring ClipboardText(HWND owner) {
  std::wstring text;
  if (!OpenClipboard(owner)) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text.assign(chars, wcsnlen(chars, GlobalSize(data) / sizeof(wchar_t)));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

int ControlId(ControlRole role) { return kFirstControlId + static_cast<int>(role); }

int ControlId(const char* controlName) {
  const ControlPlacement* placement = ControlNamed(controlName);
  return placement == nullptr ? 0 : ControlId(placement->role);
}

Text WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  buffer.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return WideToGbk(buffer);
}

void SetControlText(HWND window, const Text& text) {
  SetWindowTextW(window, GbkToWide(text).c_str());
}

MainWindow::MainWindow(HINSTANCE instance, const Text& serviceOrigin)
    : instance_(instance), origin_(GbkToUtf8(serviceOrigin)) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMainWindowClass;
  RegisterClassExW(&windowClass);

  // The program declares itself DPI-aware: on a denser screen it lays its
  // pixels out scaled, and the system's message font already is.
  if (HDC screen = GetDC(nullptr)) {
    dpi_ = std::max(96, GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
  }
  font_ = MessageFont();
  white_ = CreateSolidBrush(kWhite);
  silver_ = CreateSolidBrush(kSilver);
  grey_ = CreateSolidBrush(kGrey);

  const std::wstring caption = GbkToWide(WindowCaption());
  window_ = CreateWindowExW(0, kMainWindowClass, caption.c_str(),
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                            CW_USEDEFAULT, Scaled(kWindowWidth), Scaled(kWindowHeight), nullptr,
                            nullptr, instance, this);
  if (window_ != nullptr) {
    CreateControls(serviceOrigin);
    HMENU menu = GetSystemMenu(window_, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kRegisterLinksCommand, kRegisterLinksItem);
    AppendMenuW(menu, MF_STRING, kUnregisterLinksCommand, kUnregisterLinksItem);
  }
}

MainWindow::~MainWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (shown_ != nullptr) DeleteObject(shown_);
  for (HGDIOBJ object : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(white_),
                         static_cast<HGDIOBJ>(silver_), static_cast<HGDIOBJ>(grey_)}) {
    if (object != nullptr) DeleteObject(object);
  }
}

void MainWindow::CreateControls(const Text& serviceOrigin) {
  for (const ControlPlacement& placement : kControls) {
    const std::wstring text = GbkToWide(InitialText(placement.role, serviceOrigin));
    const DWORD extended = placement.kind == ControlKind::Edit ? WS_EX_CLIENTEDGE : 0;
    HWND control = CreateWindowExW(
        extended, ClassOf(placement.kind), text.c_str(), StyleOf(placement), Scaled(placement.left),
        Scaled(placement.top), Scaled(placement.width), Scaled(placement.height), window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(placement.role))), instance_,
        nullptr);
    if (control != nullptr && font_ != nullptr) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
  }
}

void MainWindow::Show(int showCommand) {
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
}

int MainWindow::Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }

HWND MainWindow::Control(ControlRole role) const { return GetDlgItem(window_, ControlId(role)); }

LRESULT CALLBACK MainWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ == nullptr) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == ControlId(ControlRole::kAddressBox)) {
        if (HIWORD(wParam) == EN_CHANGE) AddressChanged();
        if (HIWORD(wParam) == EN_KILLFOCUS) AddressLeft();
        return 0;
      }
      if (HIWORD(wParam) == BN_CLICKED && program_ != nullptr) {
        // Button2 stays clickable inside a running resolution and runs
        // nested in it; Button1 is disabled while its own workflow runs. The
        // count only keeps the keys from piling up.
        if (LOWORD(wParam) == ControlId(ControlRole::kResolveButton)) {
          RunWorkflow(true);
          return 0;
        }
        if (LOWORD(wParam) == ControlId(ControlRole::kRefreshButton)) {
          RunWorkflow(false);
          return 0;
        }
        // STN_CLICKED has the value of BN_CLICKED.
        if (LOWORD(wParam) == ControlId(ControlRole::kCaptchaPicture)) {
          RunRefresh();
          return 0;
        }
      }
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kRegisterLinksCommand) {
        RegisterLinks();
        return 0;
      }
      if ((wParam & 0xFFF0) == kUnregisterLinksCommand) {
        UnregisterLinks();
        return 0;
      }
      break;
    case WM_COPYDATA: {
      // The sender waits for this answer: the text is opened once it has it.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (data == nullptr || data->dwData != kOpenTextTag) break;
      handed_.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      PostMessageW(window_, kOpenHandedMessage, 0, 0);
      return TRUE;
    }
    case kOpenHandedMessage: {
      const std::wstring text = std::move(handed_);
      handed_.clear();
      OpenHanded(text);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (HWND focus = GetFocus(); focus != nullptr && IsChild(window_, focus)) {
          lastFocus_ = focus;
        }
        clipboard_.NoteLeft(WideToUtf8(ClipboardText(window_)));
      } else {
        PostMessageW(window_, kOfferClipboard, 0, 0);
      }
      break;
    case kOfferClipboard:
      OfferClipboard();
      return 0;
    case WM_SETFOCUS:
      // The window hands the keyboard to the control that had it, as a
      // dialog does.
      SetFocus(lastFocus_ != nullptr && IsWindowEnabled(lastFocus_)
                   ? lastFocus_
                   : Control(ControlRole::kAddressBox));
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      return Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID == static_cast<UINT>(ControlId(ControlRole::kCaptchaPicture))) {
        DrawPicture(*item);
        return TRUE;
      }
      break;
    }
    case WM_DESTROY:
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT MainWindow::Colour(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  if (id == ControlId(ControlRole::kAddressExample)) {
    SetTextColor(dc, kRed);
    SetBkColor(dc, kSilver);
    return reinterpret_cast<LRESULT>(silver_);
  }
  if (id == ControlId(ControlRole::kCredit)) {
    SetTextColor(dc, kBlack);
    SetBkColor(dc, kGrey);
    return reinterpret_cast<LRESULT>(grey_);
  }
  if (id == ControlId(ControlRole::kAddressBox) || id == ControlId(ControlRole::kResultBox) ||
      id == ControlId(ControlRole::kCaptchaBox)) {
    SetTextColor(dc, kBlack);
    SetBkColor(dc, kWhite);
    return reinterpret_cast<LRESULT>(white_);
  }
  SetTextColor(dc, kBlack);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
}

void MainWindow::DrawPicture(const DRAWITEMSTRUCT& item) {
  FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
  if (shown_ == nullptr) return;
  BITMAP size{};
  GetObjectW(shown_, sizeof size, &size);
  HDC source = CreateCompatibleDC(item.hDC);
  HGDIOBJ previous = SelectObject(source, shown_);
  // On a dense screen each captcha pixel becomes a whole block of screen
  // pixels, repeated rather than blended, so the letters stay sharp.
  const int factor = std::max(1, (dpi_ + 48) / 96);
  SetStretchBltMode(item.hDC, COLORONCOLOR);
  StretchBlt(item.hDC, item.rcItem.left, item.rcItem.top, size.bmWidth * factor,
             size.bmHeight * factor, source, 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
  SelectObject(source, previous);
  DeleteDC(source);
}

void MainWindow::Bind(Program& program) { program_ = &program; }

void MainWindow::RunWorkflow(bool resolve) {
  ++running_;
  if (resolve) {
    program_->Workflows().ResolveDownloadAddresses();
  } else {
    program_->Workflows().RefreshCaptcha();
  }
  --running_;
}

void MainWindow::OpenHanded(const std::wstring& text) {
  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  SetForegroundWindow(window_);
  bool blank = true;
  for (wchar_t c : text) blank = blank && (c == L' ' || c == L'\t' || c == L'\r' || c == L'\n');
  if (!blank) OpenAddress(text);
}

void MainWindow::RegisterLinks() {
  const std::wstring path = OwnPath();
  if (path.empty()) {
    MessageBoxW(window_, kRegistryFailed, GbkToWide(texts::MessageBoxTitle()).c_str(), MB_OK);
    return;
  }
  const std::vector<std::wstring> foreign = ForeignOpeners(path);
  bool replace = false;
  if (!foreign.empty()) {
    std::wstring question = kReplaceQuestion;
    for (const std::wstring& command : foreign) question += command + L"\r\n";
    question += kReplaceQuestionEnd;
    replace = MessageBoxW(window_, question.c_str(), GbkToWide(texts::MessageBoxTitle()).c_str(),
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  }
  if (!RegisterLinkOpener(path, replace)) {
    MessageBoxW(window_, kRegistryFailed, GbkToWide(texts::MessageBoxTitle()).c_str(), MB_OK);
  }
}

void MainWindow::UnregisterLinks() {
  if (!UnregisterLinkOpener(OwnPath())) {
    MessageBoxW(window_, kRegistryFailed, GbkToWide(texts::MessageBoxTitle()).c_str(), MB_OK);
  }
}

bool MainWindow::Dispatch(HWND window, const MSG& message) {
  if (message.message == WM_QUIT) return false;
  if (message.message == WM_KEYDOWN && window != nullptr && IsWindow(window) &&
      (message.hwnd == window || IsChild(window, message.hwnd))) {
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->Key(message)) return true;
  }
  // A right click on the result box opens the program's menu in place of
  // the edit control's own.
  if (message.message == WM_RBUTTONUP && window != nullptr && IsWindow(window)) {
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message.hwnd == self->Control(ControlRole::kResultBox)) {
      POINT at{static_cast<short>(LOWORD(message.lParam)),
               static_cast<short>(HIWORD(message.lParam))};
      ClientToScreen(message.hwnd, &at);
      self->ShowResultMenu(at);
      return true;
    }
  }
  MSG copy = message;
  if (window != nullptr && IsWindow(window) && IsDialogMessageW(window, &copy)) return true;
  TranslateMessage(&copy);
  DispatchMessageW(&copy);
  return true;
}

Text MainWindow::AddressText() { return WindowText(Control(ControlRole::kAddressBox)); }

Text MainWindow::CaptchaText() { return WindowText(Control(ControlRole::kCaptchaBox)); }

void MainWindow::SetResultText(const Text& text) {
  HWND box = Control(ControlRole::kResultBox);
  SetControlText(box, text);
  // The start of the text in sight.
  SendMessageW(box, EM_SETSEL, 0, 0);
  SendMessageW(box, WM_VSCROLL, SB_TOP, 0);
}

void MainWindow::SetResolveButton(bool enabled, const Text& caption) {
  HWND button = Control(ControlRole::kResolveButton);
  // A disabled button cannot keep the keyboard: it goes to the captcha box.
  if (!enabled && GetFocus() == button) SetFocus(Control(ControlRole::kCaptchaBox));
  EnableWindow(button, enabled ? TRUE : FALSE);
  SetControlText(button, caption);
}

void MainWindow::SetPicture(const ByteSet& picture) {
  HBITMAP decoded = DecodePicture(picture);
  if (shown_ != nullptr) DeleteObject(shown_);
  shown_ = decoded;
  if (decoded != nullptr) {
    picture_ = picture;
    // A new captcha wants new letters.
    HWND captcha = Control(ControlRole::kCaptchaBox);
    SetWindowTextW(captcha, L"");
    SetFocus(captcha);
  } else {
    picture_.clear();
  }
  InvalidateRect(Control(ControlRole::kCaptchaPicture), nullptr, TRUE);
}

ByteSet MainWindow::Picture() { return picture_; }

void MainWindow::ShowMessage(const Text& message) {
  MessageBoxW(nullptr, GbkToWide(message).c_str(), GbkToWide(texts::MessageBoxTitle()).c_str(),
              MB_OK | MB_TASKMODAL);
}

// A WM_QUIT met here belongs to the outer message loop: it is posted again
// so that the loop ends once the running workflow has returned.
void MainWindow::ProcessPendingEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(window_, message);
  }
}

bool MainWindow::Key(const MSG& message) {
  // A held key starts nothing beyond its first press.
  const bool repeated = (message.lParam & (1L << 30)) != 0;
  switch (message.wParam) {
    case VK_F5:
      if (!repeated) RunRefresh();
      return true;
    case VK_RETURN:
      if (message.hwnd == Control(ControlRole::kCaptchaBox)) {
        if (!repeated) RunResolve();
        return true;
      }
      if (message.hwnd == Control(ControlRole::kAddressBox)) {
        if (!repeated) {
          const std::wstring text = WideText(message.hwnd);
          if (KindOfAddress(WideToUtf8(text), origin_) == AddressKind::kWrappedLink) {
            ShowWrappedLink(text);
          } else {
            RunRefresh();
          }
        }
        return true;
      }
      return false;
    case VK_TAB: {
      if (GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0) return false;
      constexpr int n = static_cast<int>(std::size(kTabOrder));
      int at = -1;
      for (int i = 0; i < n; ++i) {
        if (Control(kTabOrder[i]) == GetFocus()) at = i;
      }
      const int step = GetKeyState(VK_SHIFT) < 0 ? n - 1 : 1;
      HWND next = Control(kTabOrder[at < 0 ? 0 : (at + step) % n]);
      wchar_t kind[16] = {};
      GetClassNameW(next, kind, 16);
      if (lstrcmpiW(kind, L"EDIT") == 0) SendMessageW(next, EM_SETSEL, 0, -1);
      SetFocus(next);
      return true;
    }
    default:
      return false;
  }
}

void MainWindow::RunRefresh() {
  if (program_ == nullptr || running_ > 0) return;
  ++running_;
  program_->Workflows().RefreshCaptcha();
  --running_;
}

void MainWindow::RunResolve() {
  if (program_ == nullptr || running_ > 0 || !IsWindowEnabled(Control(ControlRole::kResolveButton)))
    return;
  ++running_;
  program_->Workflows().ResolveDownloadAddresses();
  --running_;
}

bool MainWindow::ShowWrappedLink(const std::wstring& link) {
  linkHandled_ = link;
  const OpenedLink opened = OpenWrappedLink(WideToUtf8(link));
  if (!opened.ok) {
    ShowMessage(opened.notice);
    return false;
  }
  if (program_ != nullptr) KeepOpenedLink(opened, program_->State());
  SetResultText(opened.resultText);
  return true;
}

void MainWindow::SetAddress(const std::wstring& text) {
  settingAddress_ = true;
  SetWindowTextW(Control(ControlRole::kAddressBox), text.c_str());
  settingAddress_ = false;
  addressBefore_ = text;
}

void MainWindow::AddressChanged() {
  const std::wstring text = WideText(Control(ControlRole::kAddressBox));
  const std::wstring before = addressBefore_;
  addressBefore_ = text;
  if (settingAddress_ || InsertedCount(before, text) <= 1) return;
  if (KindOfAddress(WideToUtf8(text), origin_) == AddressKind::kWrappedLink) ShowWrappedLink(text);
}

void MainWindow::AddressLeft() {
  // A link typed key by key is read when the user moves on within the
  // window, not while it is half typed, nor when the user switches away.
  if (GetForegroundWindow() != window_) return;
  const std::wstring text = WideText(Control(ControlRole::kAddressBox));
  if (text != linkHandled_ &&
      KindOfAddress(WideToUtf8(text), origin_) == AddressKind::kWrappedLink) {
    ShowWrappedLink(text);
  }
}

bool MainWindow::OpenAddress(std::wstring_view text) {
  const std::string address = TrimmedAddress(WideToUtf8(text));
  const std::wstring shown = Utf8ToWide(address);
  switch (KindOfAddress(address, origin_)) {
    case AddressKind::kWrappedLink:
      if (!ShowWrappedLink(shown)) return false;
      SetAddress(shown);
      return true;
    case AddressKind::kFilePage:
      if (program_ == nullptr || running_ > 0) return false;
      SetAddress(shown);
      RunRefresh();
      return true;
    case AddressKind::kOther:
      break;
  }
  ShowMessage(UnknownAddressNotice(origin_));
  return false;
}

void MainWindow::OfferClipboard() {
  if (program_ == nullptr || running_ > 0 || GetForegroundWindow() != window_) return;
  const std::wstring text = ClipboardText(window_);
  if (clipboard_.Take(WideToUtf8(text), WideToUtf8(WideText(Control(ControlRole::kAddressBox))),
                      origin_)) {
    OpenAddress(text);
  }
}

void MainWindow::CopyToClipboard(std::wstring_view text) {
  clipboard_.NoteOwnCopy(WideToUtf8(text));
  if (!OpenClipboard(window_)) return;
  EmptyClipboard();
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
    if (auto* chars = static_cast<wchar_t*>(GlobalLock(memory))) {
      std::copy(text.begin(), text.end(), chars);
      chars[text.size()] = L'\0';
      GlobalUnlock(memory);
      if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

void MainWindow::ShowResultMenu(POINT at) {
  if (program_ == nullptr) return;
  const ProgramState& state = program_->State();
  const Text* links[] = {&state.NormalLink, &state.ThunderLink, &state.FlashGetLink};
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  for (UINT_PTR i = 0; i < 3; ++i) {
    AppendMenuW(menu, MF_STRING | (links[i]->empty() ? MF_GRAYED : MF_ENABLED), i + 1,
                kCopyItems[i]);
  }
  const int chosen = static_cast<int>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr));
  DestroyMenu(menu);
  if (chosen >= 1 && chosen <= 3) CopyToClipboard(GbkToWide(*links[chosen - 1]));
}

}  // namespace sorrel
