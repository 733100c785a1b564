#include "app/win32/main_window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/main_window_layout.h"
#include "app/win32/link_registration.h"
#include "app/window_controller.h"
#include "resolve/texts.h"
#include "text/codepage.h"
#include "text/wide_win32.h"

namespace sorrel {

namespace {

constexpr int kFirstControlId = 100;
// Posted to itself: a later start's text, opened outside its WM_COPYDATA.
constexpr UINT kOpenHandedMessage = WM_APP + 1;
// Posted to itself: the tasks handed to Later.
constexpr UINT kRunLaterMessage = WM_APP + 2;

constexpr const wchar_t* kRegisterLinksItem = L"设为迅雷、快车、qqdl 链接的默认打开方式";
constexpr const wchar_t* kUnregisterLinksItem = L"撤销迅雷、快车、qqdl 链接的默认打开方式";
constexpr const wchar_t* kReplaceQuestion = L"迅雷、快车或 qqdl 链接现在由其他程序打开：\r\n\r\n";
constexpr const wchar_t* kReplaceQuestionEnd =
    L"\r\n要改由本工具打开吗？\r\n选“否”只登记还没有程序打开的链接。";
constexpr const wchar_t* kRegistryFailed = L"无法写入注册表，设置没有全部完成。";

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

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
std::u16string Utf16(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }

std::wstring WideText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  buffer.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return buffer;
}

// The header of a bitmap file and where its pixels start; null when the
// bytes are no whole bitmap of a size GDI draws.
const BITMAPINFO* BitmapOf(const ByteSet& file, const void** pixels) {
  BITMAPFILEHEADER head{};
  BITMAPINFOHEADER info{};
  if (file.size() < sizeof head + sizeof info) return nullptr;
  std::memcpy(&head, file.data(), sizeof head);
  std::memcpy(&info, file.data() + sizeof head, sizeof info);
  if (head.bfType != 0x4D42 || info.biSize < sizeof info || info.biWidth <= 0 ||
      info.biHeight == 0 || info.biWidth > 4096 || info.biHeight > 4096 || info.biHeight < -4096 ||
      info.biPlanes != 1 || head.bfOffBits >= file.size()) {
    return nullptr;
  }
  const std::size_t stride =
      ((static_cast<std::size_t>(info.biWidth) * info.biBitCount + 31) / 32) * 4;
  const std::size_t rows =
      static_cast<std::size_t>(info.biHeight < 0 ? -info.biHeight : info.biHeight);
  if ((info.biCompression != BI_RGB && info.biCompression != BI_BITFIELDS) ||
      stride * rows > file.size() - head.bfOffBits)
    return nullptr;
  *pixels = file.data() + head.bfOffBits;
  return reinterpret_cast<const BITMAPINFO*>(file.data() + sizeof head);
}

// The clipboard's Unicode text; empty when it holds none or is busy.
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

}  // namespace

int ControlId(const char* controlName) {
  const ControlPlacement* placement = ControlNamed(controlName);
  return placement == nullptr ? 0 : ControlId(placement->role);
}

MainWindow::MainWindow(HINSTANCE instance, const Text& serviceOrigin) : instance_(instance) {
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
    ShowLinkItems();
    // The result box opens the program's menu, not the edit control's own.
    HWND box = Control(ControlRole::kResultBox);
    resultBoxProcedure_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::ResultBoxProcedure)));
  }
}

MainWindow::~MainWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
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

LRESULT CALLBACK MainWindow::ResultBoxProcedure(HWND box, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(GetParent(box), GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(box, message, wParam, lParam);
  if (message == WM_CONTEXTMENU) {
    if (lParam == -1) {
      self->ShowResultMenuAtCaret();
    } else {
      self->ShowResultMenu(
          POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
    }
    return 0;
  }
  return CallWindowProcW(self->resultBoxProcedure_, box, message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (controller_ == nullptr) break;
      if (LOWORD(wParam) == ControlId(ControlRole::kAddressBox)) {
        if (HIWORD(wParam) == EN_CHANGE) {
          controller_->AddressChanged(ControlText(ControlRole::kAddressBox), true);
        }
        // Moving on within the window, not switching windows.
        if (HIWORD(wParam) == EN_KILLFOCUS && GetForegroundWindow() == window_) {
          controller_->AddressLeft();
        }
        return 0;
      }
      if (HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == ControlId(ControlRole::kResolveButton)) {
          controller_->ResolveClicked();
          return 0;
        }
        if (LOWORD(wParam) == ControlId(ControlRole::kRefreshButton)) {
          controller_->RefreshClicked();
          return 0;
        }
        // STN_CLICKED has the value of BN_CLICKED.
        if (LOWORD(wParam) == ControlId(ControlRole::kCaptchaPicture)) {
          controller_->RefreshKey();
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
    case WM_INITMENUPOPUP:
      // The registry may have changed since: another program, or the user.
      if (HIWORD(lParam) != 0) ShowLinkItems();
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
    case kRunLaterMessage:
      RunLater();
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (HWND focus = GetFocus(); focus != nullptr && IsChild(window_, focus)) {
          lastFocus_ = focus;
        }
        if (controller_ != nullptr) controller_->Deactivated();
      } else if (controller_ != nullptr) {
        controller_->Activated();
      }
      break;
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
  const void* pixels = nullptr;
  const BITMAPINFO* bitmap = BitmapOf(picture_, &pixels);
  if (bitmap == nullptr) return;
  const LONG width = bitmap->bmiHeader.biWidth;
  const LONG height = std::abs(bitmap->bmiHeader.biHeight);
  // On a dense screen each captcha pixel becomes a whole block of screen
  // pixels, repeated rather than blended, so the letters stay sharp.
  const int factor = std::max(1, (dpi_ + 48) / 96);
  SetStretchBltMode(item.hDC, COLORONCOLOR);
  StretchDIBits(item.hDC, item.rcItem.left, item.rcItem.top, width * factor, height * factor, 0, 0,
                width, height, pixels, bitmap, DIB_RGB_COLORS, SRCCOPY);
}

void MainWindow::Bind(WindowController& controller) { controller_ = &controller; }

void MainWindow::OpenHanded(const std::wstring& text) {
  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  SetForegroundWindow(window_);
  if (controller_ != nullptr) controller_->OpenHanded(Utf16(text));
}

void MainWindow::RegisterLinks() {
  const std::wstring path = OwnPath();
  const std::wstring title = GbkToWide(texts::MessageBoxTitle());
  if (path.empty()) {
    MessageBoxW(window_, kRegistryFailed, title.c_str(), MB_OK);
    return;
  }
  const SchemeSet before = OpenedSchemes(path);
  const std::vector<std::wstring> foreign = ForeignOpeners(path);
  bool replace = false;
  if (!foreign.empty()) {
    std::wstring question = kReplaceQuestion;
    for (const std::wstring& command : foreign) question += command + L"\r\n";
    question += kReplaceQuestionEnd;
    replace = MessageBoxW(window_, question.c_str(), title.c_str(),
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  }
  const bool written = RegisterLinkOpener(path, replace);
  ShowLinkItems();
  const std::wstring notice =
      written ? RegisterNotice(before, OpenedSchemes(path)) : kRegistryFailed;
  MessageBoxW(window_, notice.c_str(), title.c_str(), MB_OK);
}

void MainWindow::UnregisterLinks() {
  const std::wstring path = OwnPath();
  const SchemeSet before = OpenedSchemes(path);
  const bool undone = UnregisterLinkOpener(path);
  ShowLinkItems();
  const std::wstring notice =
      undone ? UnregisterNotice(before, OpenedSchemes(path)) : kRegistryFailed;
  MessageBoxW(window_, notice.c_str(), GbkToWide(texts::MessageBoxTitle()).c_str(), MB_OK);
}

void MainWindow::ShowLinkItems() {
  const SchemeSet opened = OpenedSchemes(OwnPath());
  const bool all = std::all_of(opened.begin(), opened.end(), [](bool s) { return s; });
  const bool any = std::any_of(opened.begin(), opened.end(), [](bool s) { return s; });
  HMENU menu = GetSystemMenu(window_, FALSE);
  // Checked while the program opens all three; each item enabled only
  // while it has something to do.
  CheckMenuItem(menu, kRegisterLinksCommand, MF_BYCOMMAND | (all ? MF_CHECKED : MF_UNCHECKED));
  EnableMenuItem(menu, kRegisterLinksCommand, MF_BYCOMMAND | (all ? MF_GRAYED : MF_ENABLED));
  EnableMenuItem(menu, kUnregisterLinksCommand, MF_BYCOMMAND | (any ? MF_ENABLED : MF_GRAYED));
}

bool MainWindow::Dispatch(HWND window, const MSG& message) {
  if (message.message == WM_QUIT) return false;
  const bool key = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN ||
                   message.message == WM_KEYUP || message.message == WM_SYSKEYUP;
  if (key && window != nullptr && IsWindow(window) &&
      (message.hwnd == window || IsChild(window, message.hwnd))) {
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->Key(message)) return true;
  }
  MSG copy = message;
  if (window != nullptr && IsWindow(window) && IsDialogMessageW(window, &copy)) return true;
  TranslateMessage(&copy);
  DispatchMessageW(&copy);
  return true;
}

bool MainWindow::Key(const MSG& message) {
  if (controller_ == nullptr) return false;
  // The Menu key and Shift+F10 open the result box's menu, on the press;
  // their release is kept from the box, which would open its own.
  const bool menuKey =
      message.wParam == VK_APPS || (message.wParam == VK_F10 && GetKeyState(VK_SHIFT) < 0);
  if (menuKey && message.hwnd == Control(ControlRole::kResultBox)) {
    if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
      ShowResultMenuAtCaret();
    }
    return true;
  }
  if (message.message != WM_KEYDOWN) return false;
  // A held key starts nothing beyond its first press.
  const bool repeated = (message.lParam & (1L << 30)) != 0;
  switch (message.wParam) {
    case VK_F5:
      if (!repeated) controller_->RefreshKey();
      return true;
    case VK_RETURN:
      if (message.hwnd == Control(ControlRole::kCaptchaBox)) {
        if (!repeated) controller_->EnterInCaptchaBox();
        return true;
      }
      if (message.hwnd == Control(ControlRole::kAddressBox)) {
        if (!repeated) controller_->EnterInAddressBox();
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

void MainWindow::ShowResultMenuAtCaret() {
  POINT at{};
  if (!GetCaretPos(&at)) at = POINT{0, 0};
  at.y += Scaled(16);
  ClientToScreen(Control(ControlRole::kResultBox), &at);
  ShowResultMenu(at);
}

void MainWindow::ShowResultMenu(POINT at) {
  if (controller_ == nullptr) return;
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  for (const ResultMenuItem& item : controller_->ResultMenu()) {
    if (item.separated) AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (item.enabled ? MF_ENABLED : MF_GRAYED),
                static_cast<UINT_PTR>(item.action) + 1, Wide(item.text).c_str());
  }
  const int chosen = static_cast<int>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window_, nullptr));
  DestroyMenu(menu);
  if (chosen > 0) controller_->Choose(static_cast<ResultAction>(chosen - 1));
}

std::u16string MainWindow::ControlText(ControlRole control) {
  return Utf16(WideText(Control(control)));
}

void MainWindow::SetControlText(ControlRole control, std::u16string_view text) {
  HWND box = Control(control);
  SetWindowTextW(box, Wide(text).c_str());
  if (control == ControlRole::kResultBox) {
    // The start of the text in sight.
    SendMessageW(box, EM_SETSEL, 0, 0);
    SendMessageW(box, WM_VSCROLL, SB_TOP, 0);
  }
}

bool MainWindow::IsEnabled(ControlRole control) { return IsWindowEnabled(Control(control)); }

void MainWindow::SetEnabled(ControlRole control, bool enabled) {
  EnableWindow(Control(control), enabled ? TRUE : FALSE);
}

bool MainWindow::HasFocus(ControlRole control) { return GetFocus() == Control(control); }

void MainWindow::Focus(ControlRole control) { SetFocus(Control(control)); }

bool MainWindow::ShowPicture(const ByteSet& picture) {
  const void* pixels = nullptr;
  const bool drawable = BitmapOf(picture, &pixels) != nullptr;
  picture_ = drawable ? picture : ByteSet();
  InvalidateRect(Control(ControlRole::kCaptchaPicture), nullptr, TRUE);
  return drawable;
}

bool MainWindow::IsActive() { return GetForegroundWindow() == window_; }

std::u16string MainWindow::Clipboard() { return Utf16(ClipboardText(window_)); }

void MainWindow::SetClipboard(std::u16string_view text) {
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

void MainWindow::ShowMessage(std::u16string_view title, std::u16string_view message) {
  MessageBoxW(nullptr, Wide(message).c_str(), Wide(title).c_str(), MB_OK | MB_TASKMODAL);
}

void MainWindow::Notice(std::u16string_view title, std::u16string_view text) {
  MessageBoxW(window_, Wide(text).c_str(), Wide(title).c_str(), MB_OK);
}

bool MainWindow::Ask(std::u16string_view title, std::u16string_view question) {
  return MessageBoxW(window_, Wide(question).c_str(), Wide(title).c_str(),
                     MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void MainWindow::Later(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> hold(laterMutex_);
    later_.push_back(std::move(task));
  }
  PostMessageW(window_, kRunLaterMessage, 0, 0);
}

void MainWindow::RunLater() {
  std::deque<std::function<void()>> tasks;
  {
    std::lock_guard<std::mutex> hold(laterMutex_);
    tasks.swap(later_);
  }
  for (std::function<void()>& task : tasks) task();
}

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

}  // namespace sorrel
