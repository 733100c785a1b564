// The history's file on disk: where it lives, the lock that every running
// copy of the tool takes before touching it, and the three ways it is
// written. Paths and texts are UTF-8; error texts are Chinese sentences.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorrel {

// The history in the user's data folder: $XDG_DATA_HOME/sorrel-resolver/
// history (~/.local/share when the variable is unset or not absolute),
// %APPDATA%\sorrel-resolver\history on Windows; "" when there is no such
// folder.
std::string DefaultHistoryPath();

// One use of the file, under the lock held from Open to the end of the
// object. Everything is written private to the user.
class HistoryFile {
 public:
  explicit HistoryFile(std::string path);
  ~HistoryFile();
  HistoryFile(const HistoryFile&) = delete;
  HistoryFile& operator=(const HistoryFile&) = delete;

  // False when there is no file yet; nothing is created.
  bool Exists() const;
  // Makes the folder (private, with the missing ones above it) and takes
  // the lock beside the file, waiting a few seconds for another copy.
  bool Open(std::string& error);
  // The whole file; empty when there is none.
  bool Read(std::string& text, std::string& error);
  // `lines` at the end of the file in one write, after a line break when a
  // writer that was killed left the last line unfinished, so that its
  // remains cost only themselves. The file's size before and after.
  bool Append(std::string_view lines, std::uint64_t& before, std::uint64_t& after,
              std::string& error);
  // The file's content replaced at once: a temporary file beside it, synced
  // to disk, renamed over it.
  bool Replace(std::string_view text, std::string& error);
  // A short note that the holder of the lock keeps in the lock file, for
  // the next holder: what it knows of the file, so that it need not read it.
  std::string Note();
  void SetNote(std::string_view note);

 private:
  std::string path_;
  std::intptr_t lock_ = -1;
};

// For tests: called in Replace after the new content is on disk in the
// temporary file and before it takes the file's place.
void SetHistoryReplaceHookForTesting(void (*hook)());

}  // namespace sorrel
