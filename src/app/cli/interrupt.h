// What an interrupted run leaves behind: at SIGINT, SIGTERM or SIGHUP the
// captcha program that runs is ended with its children and the picture
// handed to it is removed; then the process ends as the signal would have
// ended it (a shell sees 128 + the signal).
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace sorrel::cli {

// Installs the handlers; a signal that this process was started ignoring
// stays ignored.
void HandleInterrupts();

// The captcha picture and its folder of this run, removed at a signal.
void NoteTemporaryPicture(const std::string& file, const std::string& folder);
void ForgetTemporaryPicture();

// The process group of the captcha program that runs; 0 when none does.
void NoteRunningProgram(pid_t group);

// Holds the three signals back on this thread for its lifetime, so that a
// program started meanwhile is noted before a signal can look for it.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace sorrel::cli
