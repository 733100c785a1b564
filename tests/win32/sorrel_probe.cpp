// Looks at a running sorrel-resolver.exe from outside, for the end-to-end
// test script: finds its main window by class and a control by name. It reads
// everything back through the system's UTF-16 side (GetWindowTextW,
// WM_GETTEXT of the W controls, the clipboard's Unicode text) and prints it
// as UTF-8, so what it shows does not depend on the system's code page or on
// the program's own conversions.
//   sorrel_probe wait SECONDS        exit 0 once the main window exists
//   sorrel_probe center CONTROL      screen coordinates of the control's centre
//   sorrel_probe text CONTROL        the control's text (Main: the caption)
//   sorrel_probe enabled CONTROL     1 or 0
//   sorrel_probe copy CONTROL        selects all of the control's text, lets the
//                                    control copy it, prints the clipboard
//   sorrel_probe paste CONTROL HEX   puts the UTF-8 text HEX (hex digits) on the
//                                    clipboard and lets the control paste it
//                                    over all of its text
//   sorrel_probe notice              title and text of the program's open
//                                    message box, on two lines
//   sorrel_probe notice-ok           presses its OK button, waits until it goes
//   sorrel_probe notice-yes, notice-no  presses that button of a Yes/No box
//   sorrel_probe windows             the number of main windows
//   sorrel_probe register-links      chooses the system-menu item that makes
//                                    the program the links' opener
//   sorrel_probe unregister-links    chooses the item that undoes it
//   sorrel_probe focus               the name of the control with the focus
//   sorrel_probe clipboard           the clipboard's Unicode text
//   sorrel_probe deactivate          tells the main window it lost activation
//   sorrel_probe activate            brings it back to the foreground and
//                                    tells it it is active again
//   sorrel_probe size CONTROL        the control's width and height in pixels
//   sorrel_probe blocks CONTROL N    reads the control from the screen: how many
//                                    of its N-by-N blocks are not of one colour,
//                                    and how many colours it shows
//   sorrel_probe close               asks the main window to close
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/win32/main_window.h"

namespace {

HWND MainWindow() { return FindWindowW(sorrel::kMainWindowClass, nullptr); }

HWND ControlOf(const std::string& name) {
  HWND window = MainWindow();
  if (name == "Main") return window;
  const int id = sorrel::ControlId(name.c_str());
  return (window == nullptr || id == 0) ? nullptr : GetDlgItem(window, id);
}

int Fail(const char* what) {
  std::fprintf(stderr, "sorrel_probe: %s\n", what);
  return 1;
}

void Print(const std::wstring& text) {
  if (text.empty()) return;
  const int size = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), needed, nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::wstring Caption(HWND window) {
  wchar_t buffer[1024] = {};
  return std::wstring(buffer, static_cast<std::size_t>(GetWindowTextW(window, buffer, 1024)));
}

// A control of another process answers WM_GETTEXT itself; GetWindowTextW
// would read only the caption the system keeps, which an edit box does not.
std::wstring ControlText(HWND control) {
  const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied = SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                      reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

bool OpenClipboardPatiently() {
  for (int i = 0; i < 50; ++i) {
    if (OpenClipboard(nullptr)) return true;
    Sleep(100);
  }
  return false;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboardPatiently()) return text;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text = chars;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

bool EmptyTheClipboard() {
  if (!OpenClipboardPatiently()) return false;
  EmptyClipboard();
  CloseClipboard();
  return true;
}

bool SetClipboardText(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (block == nullptr) return false;
  std::memcpy(GlobalLock(block), text.c_str(), bytes);
  GlobalUnlock(block);
  if (!OpenClipboardPatiently()) {
    GlobalFree(block);
    return false;
  }
  EmptyClipboard();
  const bool set = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
  if (!set) GlobalFree(block);
  CloseClipboard();
  return set;
}

std::wstring FromHexUtf8(const char* hex) {
  std::string utf8;
  for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
    utf8 += static_cast<char>(std::strtoul(std::string(p, 2).c_str(), nullptr, 16));
  }
  const int size = static_cast<int>(utf8.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring text(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), needed);
  return text;
}

struct BoxSearch {
  DWORD processId;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM search) {
  auto* s = reinterpret_cast<BoxSearch*>(search);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (processId == s->processId && IsWindowVisible(window) &&
      std::wstring(className) == L"#32770") {
    s->box = window;
    return FALSE;
  }
  return TRUE;
}

// The program's visible message box, waiting up to ten seconds for it.
HWND Notice() {
  HWND main = MainWindow();
  if (main == nullptr) return nullptr;
  BoxSearch search{0, nullptr};
  GetWindowThreadProcessId(main, &search.processId);
  for (int i = 0; i < 100 && search.box == nullptr; ++i) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr) Sleep(100);
  }
  return search.box;
}

// The message of a box: its one static child that shows text.
BOOL CALLBACK FindMessage(HWND child, LPARAM found) {
  wchar_t className[16] = {};
  GetClassNameW(child, className, 16);
  if (_wcsicmp(className, L"Static") == 0 && !Caption(child).empty()) {
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("no command");
  const std::string command = argv[1];
  if (command == "wait") {
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    for (int i = 0; i < seconds * 10; ++i) {
      if (MainWindow() != nullptr && IsWindowVisible(MainWindow())) return 0;
      Sleep(100);
    }
    return Fail("no main window");
  }
  if (command == "close") {
    HWND window = MainWindow();
    if (window == nullptr) return Fail("no main window");
    PostMessageW(window, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == "windows") {
    int count = 0;
    for (HWND w = FindWindowExW(nullptr, nullptr, sorrel::kMainWindowClass, nullptr); w != nullptr;
         w = FindWindowExW(nullptr, w, sorrel::kMainWindowClass, nullptr)) {
      ++count;
    }
    std::printf("%d\n", count);
    return 0;
  }
  if (command == "register-links" || command == "unregister-links") {
    HWND window = MainWindow();
    if (window == nullptr) return Fail("no main window");
    const UINT item = command == "register-links" ? sorrel::kRegisterLinksCommand
                                                  : sorrel::kUnregisterLinksCommand;
    PostMessageW(window, WM_SYSCOMMAND, item, 0);
    return 0;
  }
  if (command == "focus") {
    HWND window = MainWindow();
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (window == nullptr || !GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
      return Fail("no main window");
    }
    for (const char* name : {"EditBox1", "EditBox2", "EditBox3", "Button1", "Button2"}) {
      if (info.hwndFocus != nullptr && info.hwndFocus == ControlOf(name)) {
        std::printf("%s\n", name);
        return 0;
      }
    }
    std::printf("none\n");
    return 0;
  }
  if (command == "clipboard") {
    Print(ClipboardText());
    return 0;
  }
  // With no window manager on the virtual display nothing else takes the
  // activation away, so the probe says it happened.
  if (command == "deactivate" || command == "activate") {
    HWND window = MainWindow();
    if (window == nullptr) return Fail("no main window");
    if (command == "activate") SetForegroundWindow(window);
    SendMessageW(window, WM_ACTIVATE, command == "activate" ? WA_ACTIVE : WA_INACTIVE, 0);
    return 0;
  }
  if (command.rfind("notice", 0) == 0) {
    HWND box = Notice();
    if (box == nullptr) return Fail("no message box");
    if (command == "notice") {
      HWND message = nullptr;
      EnumChildWindows(box, FindMessage, reinterpret_cast<LPARAM>(&message));
      Print(Caption(box) + L"\n" + (message != nullptr ? Caption(message) : L""));
      return 0;
    }
    if (command == "notice-ok" || command == "notice-yes" || command == "notice-no") {
      const WPARAM button = command == "notice-ok" ? IDOK : command == "notice-yes" ? IDYES : IDNO;
      PostMessageW(box, WM_COMMAND, button, 0);
      for (int i = 0; i < 100 && IsWindow(box); ++i) Sleep(100);
      return IsWindow(box) ? Fail("the message box stays open") : 0;
    }
    return Fail("unknown command");
  }
  if (argc < 3) return Fail("no control name");
  HWND control = ControlOf(argv[2]);
  if (control == nullptr) return Fail("no such control");
  if (command == "center") {
    RECT r{};
    GetWindowRect(control, &r);
    std::printf("%ld %ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    return 0;
  }
  if (command == "size") {
    RECT r{};
    GetWindowRect(control, &r);
    std::printf("%ld %ld\n", r.right - r.left, r.bottom - r.top);
    return 0;
  }
  if (command == "blocks") {
    const int n = argc > 3 ? std::atoi(argv[3]) : 2;
    RECT r{};
    GetWindowRect(control, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (n < 1 || width <= 0 || height <= 0) return Fail("nothing to read");
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<std::size_t>(width) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::set<DWORD> colours;
    int mixed = 0;
    for (int y = 0; y + n <= height; y += n) {
      for (int x = 0; x + n <= width; x += n) {
        const DWORD first = pixels[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF;
        colours.insert(first);
        bool one = true;
        for (int dy = 0; dy < n; ++dy) {
          for (int dx = 0; dx < n; ++dx) {
            one = one &&
                  (pixels[static_cast<std::size_t>(y + dy) * width + x + dx] & 0xFFFFFF) == first;
          }
        }
        if (!one) ++mixed;
      }
    }
    std::printf("%d %zu\n", mixed, colours.size());
    return 0;
  }
  if (command == "text") {
    Print(control == MainWindow() ? Caption(control) : ControlText(control));
    return 0;
  }
  if (command == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
    return 0;
  }
  if (command == "copy") {
    if (!EmptyTheClipboard()) return Fail("the clipboard cannot be opened");
    SendMessageW(control, EM_SETSEL, 0, -1);
    SendMessageW(control, WM_COPY, 0, 0);
    Print(ClipboardText());
    return 0;
  }
  if (command == "paste") {
    if (argc < 4) return Fail("no text to paste");
    if (!SetClipboardText(FromHexUtf8(argv[3]))) return Fail("the clipboard cannot be filled");
    SendMessageW(control, EM_SETSEL, 0, -1);
    SendMessageW(control, WM_PASTE, 0, 0);
    return 0;
  }
  return Fail("unknown command");
}
