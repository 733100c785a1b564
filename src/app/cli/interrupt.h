// What an interrupted run leaves behind: at an interrupt (SIGINT, SIGTERM or
// SIGHUP; Ctrl+C, Ctrl+Break or a closed console on Windows) the captcha
// program that runs is ended with its children and the picture handed to
// it is removed; then the process ends as the interrupt would have ended it
// (a shell sees 128 + the signal; Windows STATUS_CONTROL_C_EXIT).
#pragma once

#include <cstdint>
#include <string>

namespace sorrel::cli {

// Installs the handlers; an interrupt that this process was started
// ignoring stays ignored.
void HandleInterrupts();

// The captcha picture and its folder of this run, removed at an interrupt.
void NoteTemporaryPicture(const std::string& file, const std::string& folder);
void ForgetTemporaryPicture();

// The captcha program that runs (its process group on POSIX, its process
// on Windows); 0 when none does.
void NoteRunningProgram(std::int64_t id);

// Holds interrupts back on this thread for its lifetime, so that a program
// started meanwhile is noted before an interrupt can look for it.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// While one lives, interrupts are noted rather than fatal, so that a run
// waiting on a download can still say what became of it.
class InterruptsNoted {
 public:
  InterruptsNoted();
  ~InterruptsNoted();
  InterruptsNoted(const InterruptsNoted&) = delete;
  InterruptsNoted& operator=(const InterruptsNoted&) = delete;

  // The interrupt that came meanwhile; 0 while none has.
  static int Noted();
};

// Ends the process as `interrupt` (one that Noted gave) ends it.
[[noreturn]] void EndAsInterrupted(int interrupt);

}  // namespace sorrel::cli
