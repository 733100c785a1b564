#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "app/cli/interrupt.h"

namespace sorrel::cli {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Read by the handler, which may call only async-signal-safe functions:
// fixed buffers, published by the flag once they are whole.
char pictureFile[PATH_MAX];
char pictureFolder[PATH_MAX];
std::atomic<bool> pictureNoted{false};
std::atomic<pid_t> programGroup{0};

thread_local sigset_t heldBefore;

volatile std::sig_atomic_t notedSignal = 0;

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

void NoteSignal(int signal) { notedSignal = signal; }

struct sigaction noteBefore[std::size(kSignals)];

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

void NoteRunningProgram(std::int64_t id) { programGroup = static_cast<pid_t>(id); }

InterruptsHeld::InterruptsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (const int signal : kSignals) sigaddset(&held, signal);
  pthread_sigmask(SIG_BLOCK, &held, &heldBefore);
}

InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &heldBefore, nullptr); }

InterruptsNoted::InterruptsNoted() {
  notedSignal = 0;
  struct sigaction noting {};
  noting.sa_handler = NoteSignal;
  sigemptyset(&noting.sa_mask);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], nullptr, &noteBefore[i]);
    if (noteBefore[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &noting, nullptr);
  }
}

InterruptsNoted::~InterruptsNoted() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &noteBefore[i], nullptr);
  }
}

int InterruptsNoted::Noted() { return notedSignal; }

void EndAsInterrupted(int interrupt) {
  std::signal(interrupt, SIG_DFL);
  std::raise(interrupt);
  std::_Exit(128 + interrupt);
}

}  // namespace sorrel::cli
