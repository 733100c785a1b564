#include "support/user_dirs_win32.h"

// windows.h first: the shell's headers build on it.
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace sorrel {

namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string folder;
  if (SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path) == S_OK) {
    folder = Utf8FromWide(path);
  }
  CoTaskMemFree(path);
  return folder;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
  }
  return utf8;
}

std::string RoamingDataFolder() { return KnownFolder(FOLDERID_RoamingAppData); }
std::string LocalDataFolder() { return KnownFolder(FOLDERID_LocalAppData); }
std::string DownloadsFolder() { return KnownFolder(FOLDERID_Downloads); }

bool MakeFolders(const std::string& folder) {
  std::wstring path = WideFromUtf8(folder);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // Each folder above in turn; a drive ("C:") or share start fails harmlessly.
  for (std::size_t slash = path.find(L'\\', 1); slash != std::wstring::npos;
       slash = path.find(L'\\', slash + 1)) {
    CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
  }
  CreateDirectoryW(path.c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathTaken(const std::string& path) {
  if (GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

}  // namespace sorrel
