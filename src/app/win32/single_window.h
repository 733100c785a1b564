// One window per user session: a named mutex in the session's own namespace
// tells a start whether the program already runs; a later start hands its
// argument to the running window with WM_COPYDATA and ends.
#pragma once

#include <windows.h>

#include <string>

namespace sorrel {

// The first argument of `commandLine` after the program's own name, without
// its quotes; an unquoted argument runs to the end of the line.
std::wstring HandedArgument(const wchar_t* commandLine);

class SessionLock {
 public:
  SessionLock();
  ~SessionLock();
  SessionLock(const SessionLock&) = delete;
  SessionLock& operator=(const SessionLock&) = delete;

  // True when another start of this session runs and its window took
  // `argument` (empty: only came to the front). A program that holds the
  // mutex but shows no window that answers does not stop this start.
  bool HandOver(const std::wstring& argument) const;

 private:
  HANDLE mutex_ = nullptr;
  bool first_ = true;
};

}  // namespace sorrel
