// The file that keeps the lasting cookies between runs: private to the
// user, replaced atomically, shared by every running copy of the program
// through a lock file beside it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "http/cookie_file.h"

namespace sorrel {

// $XDG_DATA_HOME/sorrel-resolver/cookies, with ~/.local/share when the
// variable is unset, empty or not absolute; "" when there is no home.
std::string DefaultCookieFilePath();

class CookieJar {
 public:
  // `quiet` keeps its warnings off standard error.
  explicit CookieJar(std::string path, bool quiet = false);

  // The cookies on disk; none when there is no file yet. A file that is no
  // cookie file or is too large is set aside under a name of its own
  // ("<path>.bad", else "<path>.bad.2" and on) with one line on standard
  // error. One that may not or cannot be read (a symbolic link, another
  // user's, a read error), or that cannot be set aside, is left alone with
  // one line saying why, and never written over by this jar.
  CookieSet Load();

  // Under the lock: reads the file as it is now (setting aside a bad one as
  // Load does), lets `merge` make the new content from it and writes that
  // atomically. The content written; nullopt when nothing was written.
  std::optional<CookieSet> Update(const std::function<CookieSet(const CookieSet& onDisk)>& merge);

  const std::string& path() const { return path_; }

 private:
  std::optional<CookieSet> ReadLocked();
  bool WriteLocked(const CookieSet& cookies);
  bool SetAside(const char* reason);
  // Leaves the file alone for the rest of the run, saying why.
  void Freeze(const std::string& why);
  void Warn(const std::string& sentence) const;

  std::string path_;
  bool quiet_;
  bool frozen_ = false;
};

// For tests: called after the new content is in the temporary file and
// before it replaces the old file.
void SetCookieWriteHookForTesting(void (*hook)());

}  // namespace sorrel
