#include "app/win32/main_window.h"

// In this order: GDI+ needs IStream.
#include <objidl.h>

#include <gdiplus.h>

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

std::string Utf8FromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), needed, nullptr, nullptr);
  return utf8;
}

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kSilver = RGB(192, 192, 192);
constexpr COLORREF kGrey = RGB(128, 128, 128);

bool Is(const char* name, const char* wanted) { return std::strcmp(name, wanted) == 0; }

DWORD StyleOf(const ControlPlacement& placement) {
  // Overlapping controls paint in their z-order (the credit line lies on the
  // example text), except the three plain captions: they are transparent,
  // and the prompt above the captcha box would otherwise cut off the top of
  // "验证码：".
  const bool caption =
      Is(placement.name, "Label1") || Is(placement.name, "Label2") || Is(placement.name, "Label3");
  const DWORD common = WS_CHILD | WS_VISIBLE | (caption ? 0 : WS_CLIPSIBLINGS);
  switch (placement.kind) {
    case ControlKind::Label:
      return common | SS_LEFT | SS_NOPREFIX;
    case ControlKind::Button:
      return common | WS_TABSTOP | BS_PUSHBUTTON;
    case ControlKind::Picture:
      return common | SS_OWNERDRAW;
    case ControlKind::Edit:
      if (Is(placement.name, "EditBox2")) {
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

}  // namespace

int ControlId(const char* controlName) {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (Is(kControls[i].name, controlName)) return kFirstControlId + static_cast<int>(i);
  }
  return 0;
}

Text WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, buffer.data(), length + 1);
  buffer.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return GbkFromWide(buffer);
}

void SetControlText(HWND window, const Text& text) {
  SetWindowTextW(window, WideFromGbk(text).c_str());
}

MainWindow::MainWindow(HINSTANCE instance, const Text& serviceOrigin)
    : instance_(instance), origin_(serviceOrigin) {
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

  font_ = MessageFont();
  white_ = CreateSolidBrush(kWhite);
  silver_ = CreateSolidBrush(kSilver);
  grey_ = CreateSolidBrush(kGrey);

  const std::wstring caption = WideFromGbk(WindowCaption());
  window_ =
      CreateWindowExW(0, kMainWindowClass, caption.c_str(),
                      WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                      CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, this);
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
    const std::wstring text = WideFromGbk(InitialText(placement.name, serviceOrigin));
    const DWORD extended = placement.kind == ControlKind::Edit ? WS_EX_CLIENTEDGE : 0;
    HWND control =
        CreateWindowExW(extended, ClassOf(placement.kind), text.c_str(), StyleOf(placement),
                        placement.left, placement.top, placement.width, placement.height, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(placement.name))),
                        instance_, nullptr);
    if (control != nullptr && font_ != nullptr) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
  }
}

void MainWindow::Show(int showCommand) {
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
}

HWND MainWindow::Control(const char* controlName) const {
  return GetDlgItem(window_, ControlId(controlName));
}

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
      if (HIWORD(wParam) == BN_CLICKED && program_ != nullptr) {
        // Button2 stays clickable inside a running resolution and runs
        // nested in it; Button1 is disabled while its own workflow runs.
        if (LOWORD(wParam) == ControlId("Button1")) {
          RunWorkflow(true);
          return 0;
        }
        if (LOWORD(wParam) == ControlId("Button2")) {
          RunWorkflow(false);
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
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      return Colour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID == static_cast<UINT>(ControlId("PicBox1"))) {
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
  if (id == ControlId("Label4")) {
    SetTextColor(dc, kRed);
    SetBkColor(dc, kSilver);
    return reinterpret_cast<LRESULT>(silver_);
  }
  if (id == ControlId("Label5")) {
    SetTextColor(dc, kBlack);
    SetBkColor(dc, kGrey);
    return reinterpret_cast<LRESULT>(grey_);
  }
  if (id == ControlId("EditBox1") || id == ControlId("EditBox2") || id == ControlId("EditBox3")) {
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
  BitBlt(item.hDC, item.rcItem.left, item.rcItem.top, size.bmWidth, size.bmHeight, source, 0, 0,
         SRCCOPY);
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

bool MainWindow::OpenAddress(const std::wstring& text) {
  const std::string address = TrimmedAddress(Utf8FromWide(text));
  const std::string origin = Utf8FromGbk(origin_);
  switch (KindOfAddress(address, origin)) {
    case AddressKind::kWrappedLink: {
      const OpenedLink opened = OpenWrappedLink(address);
      if (!opened.ok) {
        ShowMessage(opened.notice);
        return false;
      }
      if (program_ != nullptr) {
        ProgramState& state = program_->State();
        state.NormalLink = opened.normalLink;
        state.ThunderLink = opened.thunderLink;
        state.FlashGetLink = opened.flashGetLink;
      }
      SetControlText(Control("EditBox1"), GbkFromUtf8(address));
      SetResultText(opened.resultText);
      return true;
    }
    case AddressKind::kFilePage:
      if (program_ == nullptr || running_ > 0) return false;
      SetControlText(Control("EditBox1"), GbkFromUtf8(address));
      RunWorkflow(false);
      return true;
    case AddressKind::kOther:
      break;
  }
  ShowMessage(UnknownAddressNotice(origin));
  return false;
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
    MessageBoxW(window_, kRegistryFailed, WideFromGbk(texts::MessageBoxTitle()).c_str(), MB_OK);
    return;
  }
  const std::vector<std::wstring> foreign = ForeignOpeners(path);
  bool replace = false;
  if (!foreign.empty()) {
    std::wstring question = kReplaceQuestion;
    for (const std::wstring& command : foreign) question += command + L"\r\n";
    question += kReplaceQuestionEnd;
    replace = MessageBoxW(window_, question.c_str(), WideFromGbk(texts::MessageBoxTitle()).c_str(),
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
  }
  if (!RegisterLinkOpener(path, replace)) {
    MessageBoxW(window_, kRegistryFailed, WideFromGbk(texts::MessageBoxTitle()).c_str(), MB_OK);
  }
}

void MainWindow::UnregisterLinks() {
  if (!UnregisterLinkOpener(OwnPath())) {
    MessageBoxW(window_, kRegistryFailed, WideFromGbk(texts::MessageBoxTitle()).c_str(), MB_OK);
  }
}

bool MainWindow::Dispatch(HWND window, const MSG& message) {
  if (message.message == WM_QUIT) return false;
  MSG copy = message;
  if (window != nullptr && IsWindow(window) && IsDialogMessageW(window, &copy)) return true;
  TranslateMessage(&copy);
  DispatchMessageW(&copy);
  return true;
}

Text MainWindow::AddressText() { return WindowText(Control("EditBox1")); }

Text MainWindow::CaptchaText() { return WindowText(Control("EditBox3")); }

void MainWindow::SetResultText(const Text& text) { SetControlText(Control("EditBox2"), text); }

void MainWindow::SetResolveButton(bool enabled, const Text& caption) {
  HWND button = Control("Button1");
  EnableWindow(button, enabled ? TRUE : FALSE);
  SetControlText(button, caption);
}

void MainWindow::SetPicture(const ByteSet& picture) {
  HBITMAP decoded = DecodePicture(picture);
  if (shown_ != nullptr) DeleteObject(shown_);
  shown_ = decoded;
  if (decoded != nullptr) {
    picture_ = picture;
  } else {
    picture_.clear();
  }
  InvalidateRect(Control("PicBox1"), nullptr, TRUE);
}

ByteSet MainWindow::Picture() { return picture_; }

void MainWindow::ShowMessage(const Text& message) {
  MessageBoxW(nullptr, WideFromGbk(message).c_str(), WideFromGbk(texts::MessageBoxTitle()).c_str(),
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

}  // namespace sorrel
