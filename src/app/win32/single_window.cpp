#include "app/win32/single_window.h"

#include "app/win32/main_window.h"

namespace sorrel {

namespace {

constexpr const wchar_t* kMutexName = L"Local\\sorrel-resolver.one-window";
// The first start may still be creating its window.
constexpr int kWindowWaitSteps = 50;
constexpr DWORD kWindowWaitStepMs = 100;
constexpr UINT kAnswerMs = 5000;

bool Blank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

std::wstring HandedArgument(const wchar_t* commandLine) {
  const wchar_t* p = commandLine;
  if (p == nullptr) return {};
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != L'\0' && !Blank(*p)) ++p;
  }
  while (Blank(*p)) ++p;
  if (*p == L'"') {
    const wchar_t* start = ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    return std::wstring(start, p);
  }
  std::wstring rest(p);
  while (!rest.empty() && Blank(rest.back())) rest.pop_back();
  return rest;
}

SessionLock::SessionLock() {
  // A crashed program's mutex goes with its process: the system releases
  // and, with the last handle, removes it.
  mutex_ = CreateMutexW(nullptr, FALSE, kMutexName);
  first_ = mutex_ == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;
}

SessionLock::~SessionLock() {
  if (mutex_ != nullptr) CloseHandle(mutex_);
}

bool SessionLock::HandOver(const std::wstring& argument) const {
  if (first_) return false;
  HWND window = nullptr;
  for (int step = 0; step < kWindowWaitSteps && window == nullptr; ++step) {
    window = FindWindowW(kMainWindowClass, nullptr);
    if (window == nullptr) Sleep(kWindowWaitStepMs);
  }
  if (window == nullptr) return false;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  // This start came from the user's click: it may let the window it hands
  // to come to the front.
  AllowSetForegroundWindow(process);
  COPYDATASTRUCT data{};
  data.dwData = kOpenTextTag;
  data.cbData = static_cast<DWORD>(argument.size() * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(argument.data());
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                             SMTO_ABORTIFHUNG, kAnswerMs, &answer) != 0 &&
         answer == TRUE;
}

}  // namespace sorrel
