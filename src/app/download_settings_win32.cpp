// The settings of the Windows program: one JSON file in
// %APPDATA%\sorrel-resolver, rewritten whole through a temporary file, with
// the RPC secret and the proxy password sealed by the user's Data
// Protection API key, so that neither is ever written in clear.
#include <windows.h>

#include <dpapi.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/download_settings.h"
#include "support/user_dirs_win32.h"

namespace sorrel {

namespace {

using nlohmann::json;

constexpr const char* kKindNames[] = {"direct", "system", "http", "socks5"};

std::string SettingsFolder() { return RoamingDataFolder() + "\\sorrel-resolver"; }
std::string SettingsPath() { return SettingsFolder() + "\\settings.json"; }

std::string Hex(const unsigned char* bytes, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

std::string Unhex(const std::string& text) {
  auto value = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
  };
  std::string bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    const int high = value(text[i]), low = value(text[i + 1]);
    if (high < 0 || low < 0) return {};
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

// The text sealed for this user on this machine, in hex; empty stays empty.
// Nothing when it cannot be sealed: then it is not kept at all.
std::optional<std::string> Sealed(const std::string& text) {
  if (text.empty()) return std::string();
  DATA_BLOB in{static_cast<DWORD>(text.size()),
               reinterpret_cast<BYTE*>(const_cast<char*>(text.data()))};
  DATA_BLOB out{};
  if (!CryptProtectData(&in, L"sorrel-resolver", nullptr, nullptr, nullptr,
                        CRYPTPROTECT_UI_FORBIDDEN, &out)) {
    return std::nullopt;
  }
  std::string sealed = Hex(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return sealed;
}

// A sealed text opened again; empty when it cannot be (another user's,
// another machine's, or damaged).
std::string Unsealed(const std::string& hex) {
  std::string bytes = Unhex(hex);
  if (bytes.empty()) return {};
  DATA_BLOB in{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(bytes.data())};
  DATA_BLOB out{};
  if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                          &out)) {
    return {};
  }
  std::string text(reinterpret_cast<const char*>(out.pbData), out.cbData);
  SecureZeroMemory(out.pbData, out.cbData);
  LocalFree(out.pbData);
  return text;
}

std::optional<std::string> ReadWhole(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char buffer[4096];
  DWORD n = 0;
  // A settings file is small; anything past 1 MiB is no settings file of ours.
  while (ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n > 0 && text.size() < (1 << 20)) {
    text.append(buffer, n);
  }
  CloseHandle(file);
  return text;
}

bool WriteAtomically(const std::string& folder, const std::wstring& path, const std::string& text) {
  if (!MakeFolders(folder)) return false;
  const std::wstring temporary = path + L".new";
  const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size() && FlushFileBuffers(file);
  if (!CloseHandle(file) || !whole ||
      !MoveFileExW(temporary.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return false;
  }
  return true;
}

std::string StringAt(const json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

class UserStore : public SettingsStore {
 public:
  DownloadSettings Load() override { return DownloadSettings::Load(); }
  bool Save(const DownloadSettings& settings) override { return settings.Save(); }
};

}  // namespace

DownloadSettings DownloadSettings::Load() {
  const std::optional<std::string> text = ReadWhole(WideFromUtf8(SettingsPath()));
  if (!text) return {};
  const json kept = json::parse(*text, nullptr, false);
  if (!kept.is_object()) return {};
  const json aria2 = kept.value("aria2", json::object());
  const json proxyKept = kept.value("proxy", json::object());
  if (!aria2.is_object() || !proxyKept.is_object()) return {};
  DownloadSettings settings;
  settings.address = StringAt(aria2, "address");
  settings.secret = Unsealed(StringAt(aria2, "secret"));
  settings.folder = StringAt(aria2, "folder");
  const auto send = kept.find("sendOpenedLinks");
  settings.sendOpenedLinks = send != kept.end() && send->is_boolean() && send->get<bool>();
  const std::string kind = StringAt(proxyKept, "kind");
  for (int i = 0; i < 4; ++i) {
    if (kind == kKindNames[i]) settings.proxy.kind = static_cast<ProxyKind>(i);
  }
  settings.proxy.host = StringAt(proxyKept, "host");
  const auto port = proxyKept.find("port");
  if (port != proxyKept.end() && port->is_number_integer()) {
    settings.proxy.port = static_cast<int>(std::clamp<long long>(port->get<long long>(), 0, 65535));
  }
  settings.proxy.user = StringAt(proxyKept, "user");
  settings.proxy.password = Unsealed(StringAt(proxyKept, "password"));
  return settings;
}

bool DownloadSettings::Save() const {
  const std::optional<std::string> secretSealed = Sealed(secret);
  const std::optional<std::string> passwordSealed = Sealed(proxy.password);
  if (!secretSealed || !passwordSealed) return false;
  const json kept = {
      {"aria2", {{"address", address}, {"secret", *secretSealed}, {"folder", folder}}},
      {"sendOpenedLinks", sendOpenedLinks},
      {"proxy",
       {{"kind", kKindNames[static_cast<int>(proxy.kind)]},
        {"host", proxy.host},
        {"port", proxy.port},
        {"user", proxy.user},
        {"password", *passwordSealed}}},
  };
  std::string text;
  try {
    text = kept.dump(2) + "\n";
  } catch (const json::exception&) {
    // Text that is not UTF-8 cannot be kept as JSON.
    return false;
  }
  return WriteAtomically(SettingsFolder(), WideFromUtf8(SettingsPath()), text);
}

SettingsStore& UserSettingsStore() {
  static UserStore store;
  return store;
}

}  // namespace sorrel
