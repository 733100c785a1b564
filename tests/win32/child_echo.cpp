// A child for the child process tests: its arguments as the C runtime read
// them, one a line in UTF-8; "--wait" waits a minute, "--exit N" ends with
// N, "--env NAME" prints that variable or "(none)".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void PrintLine(const wchar_t* text) {
  char utf8[4096];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  std::fwrite(utf8, 1, n > 0 ? static_cast<std::size_t>(n - 1) : 0, stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--wait") {
    Sleep(60000);
    return 0;
  }
  if (argc == 3 && std::wstring(argv[1]) == L"--exit") return _wtoi(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"--env") {
    const wchar_t* value = _wgetenv(argv[2]);
    PrintLine(value != nullptr ? value : L"(none)");
    return 0;
  }
  for (int i = 1; i < argc; ++i) PrintLine(argv[i]);
  return 0;
}
