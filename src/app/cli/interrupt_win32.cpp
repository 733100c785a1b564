#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>

#include "app/cli/interrupt.h"
#include "text/convert.h"

namespace sorrel::cli {

namespace {

// The handler runs on a thread of its own, which the system starts for
// each console event: the notes are guarded by a lock instead of being
// limited to what a signal handler may touch; recursive, as a program is
// noted while the lock is held around its start.
std::recursive_mutex guard;
std::wstring pictureFile;
std::wstring pictureFolder;
DWORD programId = 0;
std::atomic<int> notingDepth{0};
std::atomic<int> notedEvent{0};

// Events are told as their number plus one, so that Ctrl+C (0) is not
// mistaken for none.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  if (notingDepth.load() > 0) {
    notedEvent = static_cast<int>(event) + 1;
    return TRUE;
  }
  const std::lock_guard<std::recursive_mutex> lock(guard);
  if (programId != 0) {
    if (HANDLE program = OpenProcess(PROCESS_TERMINATE, FALSE, programId)) {
      TerminateProcess(program, STATUS_CONTROL_C_EXIT);
      CloseHandle(program);
    }
  }
  if (!pictureFile.empty()) {
    DeleteFileW(pictureFile.c_str());
    RemoveDirectoryW(pictureFolder.c_str());
  }
  // The system's own handler ends the process as the event does.
  return FALSE;
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string wide = MultiByteToUtf16(utf8, kCodePageUtf8);
  return std::wstring(wide.begin(), wide.end());
}

}  // namespace

void HandleInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void NoteTemporaryPicture(const std::string& file, const std::string& folder) {
  const std::lock_guard<std::recursive_mutex> lock(guard);
  pictureFile = Wide(file);
  pictureFolder = Wide(folder);
}

void ForgetTemporaryPicture() {
  const std::lock_guard<std::recursive_mutex> lock(guard);
  pictureFile.clear();
  pictureFolder.clear();
}

void NoteRunningProgram(std::int64_t id) {
  const std::lock_guard<std::recursive_mutex> lock(guard);
  programId = static_cast<DWORD>(id);
}

// The handler waits for the lock: a program started while it is held is
// noted before the handler looks.
InterruptsHeld::InterruptsHeld() { guard.lock(); }

InterruptsHeld::~InterruptsHeld() { guard.unlock(); }

InterruptsNoted::InterruptsNoted() {
  notedEvent = 0;
  ++notingDepth;
}

InterruptsNoted::~InterruptsNoted() { --notingDepth; }

int InterruptsNoted::Noted() { return notedEvent.load(); }

void EndAsInterrupted(int) { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace sorrel::cli
