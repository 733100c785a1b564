#include <windows.h>

#include <shellapi.h>

#include <string>

#include "app/cli/console.h"
#include "text/convert.h"

namespace sorrel::cli {

namespace {

// The conversions across the console's edge; the console speaks UTF-16,
// everything else of the program UTF-8.
std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = MultiByteToUtf16(utf8, kCodePageUtf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8(std::wstring_view wide) {
  return Utf16ToMultiByte(std::u16string(wide.begin(), wide.end()), kCodePageUtf8);
}

HANDLE Handle(Stream stream) {
  return GetStdHandle(stream == Stream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

bool WriteBytes(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool WriteConsoleText(HANDLE handle, std::string_view utf8) {
  const std::wstring wide = Wide(utf8);
  std::wstring_view rest = wide;
  while (!rest.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 8192));
    if (!WriteConsoleW(handle, rest.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    rest.remove_prefix(written);
  }
  return true;
}

bool WriteTo(HANDLE handle, std::string_view utf8) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  return IsConsole(handle) ? WriteConsoleText(handle, utf8) : WriteBytes(handle, utf8);
}

// A line of bytes, without "\n" or "\r\n"; nothing at the end of input.
std::optional<std::string> ReadByteLine(HANDLE handle) {
  std::string line;
  bool any = false;
  for (;;) {
    char c = 0;
    DWORD got = 0;
    if (!ReadFile(handle, &c, 1, &got, nullptr) || got == 0) break;
    any = true;
    if (c == '\n') break;
    line += c;
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// A typed line, as the characters that were typed.
std::optional<std::string> ReadConsoleLine(HANDLE handle) {
  std::wstring line;
  bool any = false;
  for (;;) {
    wchar_t c = 0;
    DWORD got = 0;
    if (!ReadConsoleW(handle, &c, 1, &got, nullptr) || got == 0) break;
    // Ctrl+Z at the start of a line ends the input, as it does for a file.
    if (c == 0x1A && line.empty()) break;
    any = true;
    if (c == L'\n') break;
    line += c;
  }
  if (!any) return std::nullopt;
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  return Utf8(line);
}

std::optional<std::string> ReadLineFrom(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return std::nullopt;
  return IsConsole(handle) ? ReadConsoleLine(handle) : ReadByteLine(handle);
}

HANDLE OpenConsole(const wchar_t* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool Write(Stream stream, std::string_view text) { return WriteTo(Handle(stream), text); }

bool IsTerminal(Stream stream) { return IsConsole(Handle(stream)); }

std::optional<std::string> ReadInputLine() { return ReadLineFrom(GetStdHandle(STD_INPUT_HANDLE)); }

Console Console::Find(bool stdinTaken) {
  Console console;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  const bool errorIsConsole = IsConsole(error);
  if (!stdinTaken && IsConsole(input)) {
    console.in_ = reinterpret_cast<long long>(input);
  } else if (errorIsConsole) {
    const HANDLE typed = OpenConsole(L"CONIN$");
    if (typed == INVALID_HANDLE_VALUE) return console;
    console.in_ = reinterpret_cast<long long>(typed);
    console.ownsIn_ = true;
  } else {
    return console;
  }
  HANDLE shown = error;
  if (!errorIsConsole) {
    shown = OpenConsole(L"CONOUT$");
    if (shown == INVALID_HANDLE_VALUE) return console;
    console.ownsOut_ = true;
  }
  console.out_ = reinterpret_cast<long long>(shown);
  console.present_ = true;
  // Colours in text need a console that reads escape sequences; an older
  // one gets the picture as a file instead.
  DWORD mode = 0;
  GetConsoleMode(shown, &mode);
  console.drawsPictures_ =
      (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
      SetConsoleMode(shown, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING | ENABLE_PROCESSED_OUTPUT);
  console.colour_ = console.drawsPictures_;
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  if (GetConsoleScreenBufferInfo(shown, &screen)) {
    const int columns = screen.srWindow.Right - screen.srWindow.Left + 1;
    if (columns > 0) console.columns_ = columns;
  }
  return console;
}

Console::Console(Console&& other) noexcept
    : present_(other.present_),
      drawsPictures_(other.drawsPictures_),
      colour_(other.colour_),
      columns_(other.columns_),
      in_(other.in_),
      out_(other.out_),
      ownsIn_(other.ownsIn_),
      ownsOut_(other.ownsOut_) {
  other.ownsIn_ = other.ownsOut_ = false;
}

Console::~Console() {
  if (ownsIn_) CloseHandle(reinterpret_cast<HANDLE>(in_));
  if (ownsOut_) CloseHandle(reinterpret_cast<HANDLE>(out_));
}

bool Console::Write(std::string_view text) const {
  return present_ && WriteTo(reinterpret_cast<HANDLE>(out_), text);
}

std::optional<std::string> Console::ReadLine() const {
  if (!present_) return std::nullopt;
  return ReadLineFrom(reinterpret_cast<HANDLE>(in_));
}

std::string MakePrivateFolder() {
  // In the user's own temporary folder, which only the user can read.
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return {};
  const unsigned long long seed =
      (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^ GetTickCount64();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring folder =
        std::wstring(base, length) + L"sorrel-resolve." + std::to_wstring(seed + attempt * 7919ULL);
    if (CreateDirectoryW(folder.c_str(), nullptr)) return Utf8(folder);
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

std::string FileIn(const std::string& folder, std::string_view name) {
  return folder + "\\" + std::string(name);
}

std::vector<std::string> Arguments(int, char**) {
  // The C runtime's own arguments are in the ANSI code page, which lacks
  // most characters; the system's UTF-16 command line has them all.
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace sorrel::cli
