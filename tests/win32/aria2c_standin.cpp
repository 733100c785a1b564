// A stand-in for aria2c.exe in the private engine's tests: it writes what
// it was started with to the file SORREL_STANDIN_RECORD names (its command
// line, its configuration file, and whether that file lets its user alone
// in), then answers every JSON-RPC call on its loopback port as
// aria2.getVersion would, until aria2.shutdown, which it notes there too.
#include <winsock2.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), n, nullptr, nullptr);
  return text;
}

std::wstring Option(int argc, wchar_t** argv, const std::wstring& name) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument.rfind(name + L"=", 0) == 0) return argument.substr(name.size() + 1);
  }
  return {};
}

std::string ReadAll(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(unreadable)";
  std::string text;
  char buffer[1024];
  DWORD n = 0;
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
  CloseHandle(file);
  return text;
}

// "user-only" when the file's DACL is protected and has one entry, which
// allows this process's user; else what it found.
std::string Access(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "no-security-info";
  }
  std::string found = "other";
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> user(size);
  GetTokenInformation(token, TokenUser, user.data(), size, &size);
  CloseHandle(token);
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(descriptor, &control, &revision);
  void* ace = nullptr;
  if (dacl == nullptr) {
    found = "no-dacl";
  } else if (dacl->AceCount == 1 && GetAce(dacl, 0, &ace) &&
             static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
             EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, sid) &&
             (control & SE_DACL_PROTECTED) != 0) {
    found = "user-only";
  } else {
    found = "aces:" + std::to_string(dacl->AceCount);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      if (!GetAce(dacl, i, &ace)) continue;
      LPWSTR text = nullptr;
      ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &text);
      char part[32];
      snprintf(part, sizeof part, ":%u:%lx", static_cast<ACE_HEADER*>(ace)->AceType,
               static_cast<unsigned long>(static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask));
      found.append(" ").append(Utf8(text ? text : L"?")).append(part);
      LocalFree(text);
    }
    found.append((control & SE_DACL_PROTECTED) != 0 ? " protected" : " inherited");
  }
  LocalFree(descriptor);
  return found;
}

void Record(const std::string& text) {
  const wchar_t* path = _wgetenv(L"SORREL_STANDIN_RECORD");
  if (path == nullptr) return;
  const HANDLE file =
      CreateFileW(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// The value of "key":"..." in a request body.
std::string Member(const std::string& body, const std::string& key) {
  const std::string start = "\"" + key + "\":\"";
  const std::size_t at = body.find(start);
  if (at == std::string::npos) return {};
  const std::size_t from = at + start.size();
  return body.substr(from, body.find('"', from) - from);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring conf = Option(argc, argv, L"--conf-path");
  Record("command=" + Utf8(GetCommandLineW()) + "\nconf=" + ReadAll(conf) +
         "access=" + Access(conf) + "\n");

  WSADATA data{};
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port =
      htons(static_cast<u_short>(_wtoi(Option(argc, argv, L"--rpc-listen-port").c_str())));
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 4) != 0) {
    return 2;
  }
  for (;;) {
    const SOCKET peer = accept(listener, nullptr, nullptr);
    if (peer == INVALID_SOCKET) return 3;
    std::string request;
    char buffer[4096];
    for (;;) {
      const std::size_t headEnd = request.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        const std::size_t length = request.find("Content-Length: ");
        const std::size_t body = length == std::string::npos
                                     ? 0
                                     : std::strtoul(request.c_str() + length + 16, nullptr, 10);
        if (request.size() >= headEnd + 4 + body) break;
      }
      const int n = recv(peer, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    const std::string method = Member(request, "method");
    const std::string result =
        method == "aria2.shutdown" ? "\"OK\"" : "{\"version\":\"1.37.0\",\"enabledFeatures\":[]}";
    const std::string body =
        "{\"jsonrpc\":\"2.0\",\"id\":\"" + Member(request, "id") + "\",\"result\":" + result + "}";
    const std::string answer =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    send(peer, answer.data(), static_cast<int>(answer.size()), 0);
    shutdown(peer, SD_SEND);
    closesocket(peer);
    if (method == "aria2.shutdown") {
      Record("asked to shut down\n");
      return 0;
    }
  }
}
