#include <windows.h>

#include <cerrno>
#include <string>

#include "app/cli/local_files.h"
#include "text/convert.h"

namespace sorrel::cli {

namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string wide = MultiByteToUtf16(utf8, kCodePageUtf8);
  return std::wstring(wide.begin(), wide.end());
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EIO;
  }
}

// A folder's permissions say little on Windows: a file made in it and
// deleted again tells whether it takes files.
int TakesFiles(const std::wstring& folder) {
  const std::wstring probe =
      folder + L"\\.sorrel-resolve-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS ? 0 : ErrnoOf(error);
  }
  CloseHandle(file);
  return 0;
}

}  // namespace

// Through the system's own conversions, which replace what is no UTF-8
// rather than throw.
std::filesystem::path LocalPath(const std::string& utf8) { return Wide(utf8); }

std::string Utf8Path(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  return Utf16ToMultiByte(std::u16string(wide.begin(), wide.end()), kCodePageUtf8);
}

int FolderProblem(std::string dir) {
  for (;;) {
    const std::wstring folder = Wide(dir);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ENOTDIR;
      return TakesFiles(folder);
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return ErrnoOf(error);
    const std::size_t slash = dir.find_last_of("/\\");
    // Nothing above a drive's root ("C:\") to look at.
    if (slash == std::string::npos || slash <= 2) return 0;
    dir.resize(slash);
  }
}

bool ReadStart(const std::string& path, std::size_t limit, std::string& text, int& error) {
  const HANDLE file =
      CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(GetLastError());
    return false;
  }
  char buffer[4096];
  DWORD got = 0;
  error = 0;
  while (text.find('\n') == std::string::npos && text.size() < limit) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      error = ErrnoOf(GetLastError());
      break;
    }
    if (got == 0) break;
    text.append(buffer, got);
  }
  CloseHandle(file);
  return error == 0;
}

}  // namespace sorrel::cli
