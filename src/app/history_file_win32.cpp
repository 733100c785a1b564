#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>

#include "app/history_file.h"

namespace sorrel {

namespace {

std::atomic<void (*)()> g_replaceHook{nullptr};

constexpr DWORD kLockPatienceMs = 10000;
constexpr LONGLONG kMostBytes = 256LL << 20;
constexpr DWORD kNoteBytes = 64;

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                      nullptr, nullptr);
  return utf8;
}

std::string Failure(const char* what, const std::string& path) {
  const DWORD number = GetLastError();
  return std::string(what) + " " + path + "（错误 " + std::to_string(number) + "）";
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// Creates the folder and the missing ones above it; the drive or share at
// the start is there or nothing is.
bool MakeFolders(const std::wstring& folder) {
  for (std::size_t at = folder.find_first_of(L"\\/", 3); at != std::wstring::npos;
       at = folder.find_first_of(L"\\/", at + 1)) {
    CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  }
  return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteWhole(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 30));
    if (!WriteFile(file, text.data(), chunk, &written, nullptr) || written == 0) return false;
    text.remove_prefix(written);
  }
  return true;
}

}  // namespace

// The folder lookup of the data folder; it moves to the shared lookup of
// the user's folders once there is one.
std::string DefaultHistoryPath() {
  const wchar_t* appData = _wgetenv(L"APPDATA");
  if (appData == nullptr || appData[0] == L'\0') return "";
  return Utf8(appData) + "\\sorrel-resolver\\history";
}

HistoryFile::HistoryFile(std::string path) : path_(std::move(path)) {}

HistoryFile::~HistoryFile() {
  if (lock_ != -1) CloseHandle(reinterpret_cast<HANDLE>(lock_));
}

bool HistoryFile::Exists() const {
  return GetFileAttributesW(Wide(path_).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool HistoryFile::Open(std::string& error) {
  // Under %APPDATA%, which is the user's alone.
  const std::string folder = Folder(path_);
  if (!MakeFolders(Wide(folder))) {
    error = Failure("无法建立历史记录的文件夹", folder);
    return false;
  }
  const std::string lockPath = path_ + ".lock";
  const HANDLE lock = CreateFileW(Wide(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (lock == INVALID_HANDLE_VALUE) {
    error = Failure("无法打开历史记录的锁文件", lockPath);
    return false;
  }
  const DWORD start = GetTickCount();
  for (;;) {
    OVERLAPPED at{};
    if (LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) break;
    if (GetTickCount() - start > kLockPatienceMs) {
      error = "历史记录 " + path_ + " 正被另一个程序占用。";
      CloseHandle(lock);
      return false;
    }
    Sleep(5);
  }
  lock_ = reinterpret_cast<std::intptr_t>(lock);
  return true;
}

bool HistoryFile::Read(std::string& text, std::string& error) {
  text.clear();
  Handle file(CreateFileW(Wide(path_).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    const DWORD number = GetLastError();
    if (number == ERROR_FILE_NOT_FOUND || number == ERROR_PATH_NOT_FOUND) return true;
    SetLastError(number);
    error = Failure("无法读取历史记录", path_);
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMostBytes) {
    error = "历史记录 " + path_ + " 不是本工具的文件。";
    return false;
  }
  text.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD n = 0;
    if (!ReadFile(file.get(), text.data() + done, static_cast<DWORD>(text.size() - done), &n,
                  nullptr)) {
      error = Failure("无法读取历史记录", path_);
      return false;
    }
    if (n == 0) break;
    done += n;
  }
  text.resize(done);
  return true;
}

bool HistoryFile::Append(std::string_view lines, std::uint64_t& before, std::uint64_t& after,
                         std::string& error) {
  Handle file(CreateFileW(Wide(path_).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (file.get() == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.get(), &size)) {
    error = Failure("无法写入历史记录", path_);
    return false;
  }
  std::string text;
  if (size.QuadPart > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size.QuadPart - 1);
    at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
    char last = '\n';
    DWORD n = 0;
    if (ReadFile(file.get(), &last, 1, &n, &at) && n == 1 && last != '\n') text.push_back('\n');
  }
  text.append(lines);
  if (!WriteWhole(file.get(), text) || !file.Close()) {
    error = Failure("无法写入历史记录", path_);
    return false;
  }
  before = static_cast<std::uint64_t>(size.QuadPart);
  after = before + text.size();
  return true;
}

bool HistoryFile::Replace(std::string_view text, std::string& error) {
  const std::wstring temp = Wide(path_ + ".tmp");
  Handle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  bool ok = file.get() != INVALID_HANDLE_VALUE && WriteWhole(file.get(), text) &&
            FlushFileBuffers(file.get());
  if (file.get() != INVALID_HANDLE_VALUE) ok = file.Close() && ok;
  if (void (*hook)() = g_replaceHook.load(); ok && hook) hook();
  if (!ok || !MoveFileExW(temp.c_str(), Wide(path_).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = Failure("无法写入历史记录", path_);
    DeleteFileW(temp.c_str());
    return false;
  }
  return true;
}

std::string HistoryFile::Note() {
  char buffer[kNoteBytes];
  OVERLAPPED at{};
  DWORD n = 0;
  if (lock_ == -1 || !ReadFile(reinterpret_cast<HANDLE>(lock_), buffer, sizeof buffer, &n, &at)) {
    return {};
  }
  return std::string(buffer, n);
}

void HistoryFile::SetNote(std::string_view note) {
  // Always the same length, so that no truncation is needed.
  std::string text(note.substr(0, kNoteBytes));
  text.resize(kNoteBytes, ' ');
  OVERLAPPED at{};
  DWORD n = 0;
  if (lock_ != -1) WriteFile(reinterpret_cast<HANDLE>(lock_), text.data(), kNoteBytes, &n, &at);
}

void SetHistoryReplaceHookForTesting(void (*hook)()) { g_replaceHook.store(hook); }

}  // namespace sorrel
