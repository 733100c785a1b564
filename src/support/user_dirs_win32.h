// The folders the tool keeps the user's files in on Windows, found by the
// shell's known-folder ids, and the UTF-8 texts of paths at the W functions.
#pragma once

#include <string>
#include <string_view>

namespace sorrel {

// UTF-8 and UTF-16 across the W functions; invalid input gives U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// %APPDATA% (FOLDERID_RoamingAppData): settings that travel with the user.
std::string RoamingDataFolder();
// %LOCALAPPDATA% (FOLDERID_LocalAppData): files of this machine's runs.
std::string LocalDataFolder();
// The user's Downloads folder (FOLDERID_Downloads).
std::string DownloadsFolder();

// Creates `folder` and the missing folders above it. False when it is not
// a folder afterwards.
bool MakeFolders(const std::string& folder);

// Whether anything is at `path`; true too when that cannot be told.
bool PathTaken(const std::string& path);

}  // namespace sorrel
