// The one window of the native Windows program, with its eleven controls,
// over plain Win32 controls. It is also the workflows' view: they read and
// write the controls through it and let it process pending messages while
// they wait. It speaks UTF-16 to the system through the W functions; its
// texts cross that edge through the code page 936 conversions of
// text/wide_win32.h, so they read the same whatever the system's code page.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "app/address_intake.h"
#include "app/main_window_layout.h"
#include "resolve/view.h"

namespace sorrel {

class Program;

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

class MainWindow : public ResolverView {
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

  // Binds the buttons, the keys, the captcha picture and the address box to
  // the program's workflows.
  void Bind(Program& program);

  // Opens an address handed to the window from outside (the command line, a
  // later start, the clipboard): a wrapped download-manager link is shown
  // decoded in the result box with no request; a file page of the service
  // goes into the address box and its captcha is fetched once; anything else
  // gets one notice and changes nothing. False when nothing was opened.
  bool OpenAddress(std::wstring_view text);
  // Brings the window to the front, then opens `text` unless it is empty.
  void OpenHanded(const std::wstring& text);
  // Puts `text` on the clipboard as the window's own copy, which the window
  // does not take back into the address box.
  void CopyToClipboard(std::wstring_view text);

  // Dispatches one message of the thread's queue, with the keyboard moving
  // the focus between the controls. False for WM_QUIT.
  static bool Dispatch(HWND window, const MSG& message);

  Text AddressText() override;
  Text CaptchaText() override;
  void SetResultText(const Text& text) override;
  void SetResolveButton(bool enabled, const Text& caption) override;
  void SetPicture(const ByteSet& picture) override;
  ByteSet Picture() override;
  void ShowMessage(const Text& message) override;
  // The window has already shown the run's texts, which say it all.
  void ReportOutcome(ResolveOutcome) override {}
  void ProcessPendingEvents() override;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls(const Text& serviceOrigin);
  LRESULT Colour(HDC dc, HWND control);
  void RegisterLinks();
  void UnregisterLinks();
  void RunWorkflow(bool resolve);
  void DrawPicture(const DRAWITEMSTRUCT& item);
  // Enter, F5 and Tab as the window answers them; false for other keys.
  bool Key(const MSG& message);
  // The result box's menu at `at` (screen): the three addresses to the clipboard.
  void ShowResultMenu(POINT at);
  // The workflows as the keys, the picture and the clipboard start them:
  // never while another run the window started is under way.
  void RunRefresh();
  void RunResolve();
  // The address box's wrapped link shown decoded; false for a link that
  // does not decode, after its notice.
  bool ShowWrappedLink(const std::wstring& link);
  void AddressChanged();
  void AddressLeft();
  void OfferClipboard();
  void SetAddress(const std::wstring& text);
  int Scaled(int pixels) const;

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  HBRUSH white_ = nullptr;
  HBRUSH silver_ = nullptr;
  HBRUSH grey_ = nullptr;
  HBITMAP shown_ = nullptr;
  ByteSet picture_;
  Program* program_ = nullptr;
  std::string origin_;  // UTF-8
  // Dots per inch of the screen; the fixed layout is in pixels at 96.
  int dpi_ = 96;
  int running_ = 0;
  std::wstring handed_;
  ClipboardOffer clipboard_;
  // The address box as it read before its latest change, for what an edit
  // put in; the last link in it that was decoded or refused, so that
  // leaving the box does not ask twice.
  std::wstring addressBefore_;
  std::wstring linkHandled_;
  bool settingAddress_ = false;
  HWND lastFocus_ = nullptr;
};

// The clipboard's Unicode text; empty when it holds none or is busy.
std::wstring ClipboardText(HWND owner);

// The text of a window or control as code page 936 text, through
// GetWindowTextW, and its replacement through SetWindowTextW.
Text WindowText(HWND window);
void SetControlText(HWND window, const Text& text);

}  // namespace sorrel
