// The folders the tool keeps the user's files in (the XDG base
// directories), and the one rule for the folders and files it makes there:
// private to the user (folders 0700, files 0600), never reached through a
// symbolic link, and refused when another user owns them.
#pragma once

#include <string>

namespace sorrel {

// $HOME when it is absolute, else the password database's home; "" when
// neither is.
std::string HomeFolder();

// $XDG_DATA_HOME when absolute, else ~/.local/share; "" without a home.
std::string UserDataFolder();

// $XDG_CONFIG_HOME when absolute, else ~/.config; "" without a home.
std::string UserConfigFolder();

// A folder for sockets and other files of this login that only the user can
// enter: $XDG_RUNTIME_DIR when it is such a folder, else
// "$TMPDIR/sorrel-resolver-<uid>" (/tmp without TMPDIR), made private here.
// "" with the reason in `why` when neither can be had.
std::string UserRuntimeFolder(std::string* why = nullptr);

// Creates `folder` and the missing folders above it, each 0700, and checks
// the last one with lstat: a real folder, owned by the user, made 0700 when
// it was more open. False with a Chinese sentence in `why` otherwise.
bool MakePrivateFolder(const std::string& folder, std::string* why = nullptr);

// Opens a file the tool keeps: never through a symbolic link, created 0600,
// and only when it is a regular file of the user's own. `flags` are open's
// (O_NOFOLLOW and O_CLOEXEC are added). -1 with errno kept and, for a file
// that is not the user's, a Chinese sentence in `why`.
int OpenPrivateFile(const std::string& path, int flags, std::string* why = nullptr);

// The folder part of `path` ("." when it has none).
std::string ParentFolder(const std::string& path);

}  // namespace sorrel
