// The one window of the native Windows program, with its eleven controls,
// over plain Win32 controls. It draws what the window logic asks of it and
// hands its events to that logic; the workflows reach it through the logic.
// It speaks UTF-16 to the system through the W functions, so its texts read
// the same whatever the system's code page.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "app/main_window_layout.h"
#include "app/window_view.h"

namespace sorrel {

class WindowController;

// The main window's class name and the child-window identifier of each
// control, for tools that find them from outside (tests).
inline constexpr const wchar_t* kMainWindowClass = L"SorrelResolverMainWindow";
// The system-menu items that make the program the user's opener of the
// three link schemes and undo that (WM_SYSCOMMAND identifiers).
inline constexpr UINT kRegisterLinksCommand = 0x0100;
inline constexpr UINT kUnregisterLinksCommand = 0x0110;
// The WM_COPYDATA tag of a text handed over by a later start: UTF-16, no
// terminating zero.
inline constexpr ULONG_PTR kOpenTextTag = 0x534F524C;
// 0 for a name that is not one of the eleven controls.
int ControlId(const char* controlName);

class MainWindow : public WindowView {
 public:
  MainWindow(HINSTANCE instance, const Text& serviceOrigin);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // False when the window could not be created.
  bool Created() const { return window_ != nullptr; }
  HWND Handle() const { return window_; }
  HWND Control(ControlRole role) const;
  void Show(int showCommand);

  // Hands the buttons, the keys, the captcha picture and the address box to
  // the window logic.
  void Bind(WindowController& controller);

  // Brings the window to the front, then opens `text` as the window logic
  // opens a later start's text.
  void OpenHanded(const std::wstring& text);

  // Dispatches one message of the thread's queue, with the keyboard moving
  // the focus between the controls. False for WM_QUIT.
  static bool Dispatch(HWND window, const MSG& message);

  std::u16string ControlText(ControlRole control) override;
  void SetControlText(ControlRole control, std::u16string_view text) override;
  bool IsEnabled(ControlRole control) override;
  void SetEnabled(ControlRole control, bool enabled) override;
  bool HasFocus(ControlRole control) override;
  void Focus(ControlRole control) override;
  // GDI draws device-independent bitmaps, the captcha among them.
  std::optional<PictureFormat> DrawnPictureFormat() override { return PictureFormat::kBmp; }
  bool ShowPicture(const ByteSet& picture) override;
  bool IsActive() override;
  std::u16string Clipboard() override;
  void SetClipboard(std::u16string_view text) override;
  void ShowMessage(std::u16string_view title, std::u16string_view message) override;
  void Notice(std::u16string_view title, std::u16string_view text) override;
  bool Ask(std::u16string_view title, std::u16string_view question) override;
  void Later(std::function<void()> task) override;
  // A WM_QUIT met here belongs to the outer message loop: it is posted again
  // so that the loop ends once the running workflow has returned.
  void ProcessPendingEvents() override;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ResultBoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(const Text& serviceOrigin);
  LRESULT Colour(HDC dc, HWND control);
  void RegisterLinks();
  void UnregisterLinks();
  // The system menu's two link items as the registry stands.
  void ShowLinkItems();
  void DrawPicture(const DRAWITEMSTRUCT& item);
  // The keys the window answers itself; false for other keys.
  bool Key(const MSG& message);
  // The result box's menu at `at` (screen), or at its caret.
  void ShowResultMenu(POINT at);
  void ShowResultMenuAtCaret();
  void RunLater();
  int Scaled(int pixels) const;

  HINSTANCE instance_;
  HWND window_ = nullptr;
  WNDPROC resultBoxProcedure_ = nullptr;
  HFONT font_ = nullptr;
  HBRUSH white_ = nullptr;
  HBRUSH silver_ = nullptr;
  HBRUSH grey_ = nullptr;
  // The captcha as a bitmap file, drawn as it stands.
  ByteSet picture_;
  WindowController* controller_ = nullptr;
  // Dots per inch of the screen; the fixed layout is in pixels at 96.
  int dpi_ = 96;
  std::wstring handed_;
  HWND lastFocus_ = nullptr;
  std::mutex laterMutex_;
  std::deque<std::function<void()>> later_;
};

}  // namespace sorrel
