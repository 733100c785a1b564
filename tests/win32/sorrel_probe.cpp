// Looks at a running sorrel-resolver.exe from outside, for the end-to-end
// test script: finds its main window by class and a control by name.
//   sorrel_probe wait SECONDS        exit 0 once the main window exists
//   sorrel_probe center CONTROL      screen coordinates of the control's centre
//   sorrel_probe text CONTROL        the control's text (WM_GETTEXT), as UTF-8
//   sorrel_probe enabled CONTROL     1 or 0
//   sorrel_probe close               asks the main window to close
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/win32/main_window.h"
#include "text/codepage.h"

namespace {

HWND MainWindow() { return FindWindowA(sorrel::kMainWindowClass, nullptr); }

HWND ControlOf(const char* name) {
  const int id = sorrel::ControlId(name);
  HWND window = MainWindow();
  return (window == nullptr || id == 0) ? nullptr : GetDlgItem(window, id);
}

int Fail(const char* what) {
  std::fprintf(stderr, "sorrel_probe: %s\n", what);
  return 1;
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
    PostMessageA(window, WM_CLOSE, 0, 0);
    return 0;
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
  if (command == "text") {
    const LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(control, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    const std::string utf8 = sorrel::Utf8FromGbk(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
  }
  if (command == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
    return 0;
  }
  return Fail("unknown command");
}
