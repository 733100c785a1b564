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
  explicit CookieJar(std::string path);

  // The cookies on disk; none when there is no file yet. A file that cannot
  // be read or understood is set aside as "<path>.bad" with one line on
  // standard error; one that cannot even be set aside is left alone and
  // never written over by this jar.
  CookieSet Load();

  // Under the lock: reads the file as it is now (setting aside a bad one as
  // Load does), lets `merge` make the new content from it and writes that
  // atomically. The content written; nullopt when nothing was written.
  std::optional<CookieSet> Update(const std::function<CookieSet(const CookieSet& onDisk)>& merge);

  const std::string& path() const { return path_; }

 private:
  std::optional<CookieSet> ReadLocked();
  bool WriteLocked(const CookieSet& cookies);

  std::string path_;
  bool frozen_ = false;
};

// For tests: called after the new content is in the temporary file and
// before it replaces the old file.
void SetCookieWriteHookForTesting(void (*hook)());

}  // namespace sorrel
