#include "app/cli/interrupt.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace sorrel::cli {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler, which may call only async-signal-safe functions:
// fixed buffers, published by the flag once they are whole.
char pictureFile[PATH_MAX];
char pictureFolder[PATH_MAX];
std::atomic<bool> pictureNoted{false};
std::atomic<pid_t> programGroup{0};

void OnInterrupt(int signal) {
  const int savedErrno = errno;
  if (const pid_t group = programGroup.load(); group > 0) {
    kill(-group, SIGKILL);
    kill(group, SIGKILL);
  }
  if (pictureNoted.load()) {
    unlink(pictureFile);
    rmdir(pictureFolder);
  }
  // The handler was reset to the default on entry: the signal, raised again,
  // ends the process once the handler returns.
  raise(signal);
  errno = savedErrno;
}

}  // namespace

void HandleInterrupts() {
  for (const int signal : kSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int other : kSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal, &action, nullptr);
  }
}

void NoteTemporaryPicture(const std::string& file, const std::string& folder) {
  pictureNoted = false;
  if (file.size() >= sizeof pictureFile || folder.size() >= sizeof pictureFolder) return;
  std::memcpy(pictureFile, file.c_str(), file.size() + 1);
  std::memcpy(pictureFolder, folder.c_str(), folder.size() + 1);
  pictureNoted = true;
}

void ForgetTemporaryPicture() { pictureNoted = false; }

void NoteRunningProgram(pid_t group) { programGroup = group; }

InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal : kSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &before_);
}

InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

}  // namespace sorrel::cli
