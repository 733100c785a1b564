#include "app/win32/link_registration.h"

#include <algorithm>
#include <optional>

namespace sorrel {

namespace {

constexpr const wchar_t* kClasses = L"Software\\Classes\\";
constexpr const wchar_t* kSaved = L"Software\\sorrel-resolver\\Replaced\\";
constexpr const wchar_t* kCommandKey = L"\\shell\\open\\command";
constexpr const wchar_t* kUrlProtocol = L"URL Protocol";
// Whether the scheme's key existed, and the values kept for one scheme:
// each under its own name, taken from the scheme's key or its command key.
constexpr const wchar_t* kSavedExisted = L"Existed";
struct KeptValue {
  const wchar_t* savedName;
  bool inCommandKey;
  const wchar_t* name;
};
constexpr KeptValue kKeptValues[] = {{L"Default", false, nullptr},
                                     {L"URL Protocol", false, kUrlProtocol},
                                     {L"Command", true, nullptr}};

std::optional<std::wstring> ReadString(const std::wstring& key, const wchar_t* name) {
  DWORD bytes = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name,
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, nullptr,
                   &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name,
                   RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value.data(),
                   &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.resize(wcsnlen(value.c_str(), value.size()));
  return value;
}

bool WriteString(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const bool written =
      RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     bytes) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return written;
}

// Writes `value`, or deletes the value when there is none.
bool PutBack(const std::wstring& key, const wchar_t* name,
             const std::optional<std::wstring>& value) {
  if (value) return WriteString(key, name, *value);
  const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, key.c_str(), name);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool KeyExists(const std::wstring& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(handle);
  return true;
}

// The schemes as the user knows them: "迅雷、快车、qqdl 链接".
constexpr const wchar_t* kSchemeNames[] = {L"迅雷", L"快车", L"qqdl"};

std::wstring LinksOf(const SchemeSet& schemes, bool wanted) {
  std::wstring names;
  bool latin = false;
  for (std::size_t i = 0; i < schemes.size(); ++i) {
    if (schemes[i] != wanted) continue;
    if (!names.empty()) names += L"、";
    names += kSchemeNames[i];
    latin = kSchemeNames[i][0] < 0x80;
  }
  return names + (latin ? L" 链接" : L"链接");
}

bool None(const SchemeSet& schemes) {
  return std::none_of(schemes.begin(), schemes.end(), [](bool s) { return s; });
}

bool All(const SchemeSet& schemes) {
  return std::all_of(schemes.begin(), schemes.end(), [](bool s) { return s; });
}

bool DeleteTree(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
  const LSTATUS removed = RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::wstring OpenCommand(const std::wstring& programPath) {
  return L"\"" + programPath + L"\" \"%1\"";
}

std::vector<std::wstring> ForeignOpeners(const std::wstring& programPath) {
  std::vector<std::wstring> foreign;
  for (const wchar_t* scheme : kLinkSchemes) {
    const auto command = ReadString(kClasses + std::wstring(scheme) + kCommandKey, nullptr);
    if (command && !command->empty() && *command != OpenCommand(programPath)) {
      foreign.push_back(*command);
    }
  }
  return foreign;
}

bool RegisterLinkOpener(const std::wstring& programPath, bool replaceForeign) {
  bool ok = true;
  for (const wchar_t* scheme : kLinkSchemes) {
    const std::wstring key = kClasses + std::wstring(scheme);
    const std::wstring commandKey = key + kCommandKey;
    const std::wstring saved = kSaved + std::wstring(scheme);
    const auto command = ReadString(commandKey, nullptr);
    const bool ours = command && *command == OpenCommand(programPath);
    if (ours) continue;
    if (command && !command->empty() && !replaceForeign) continue;
    // What was there first is kept once: a second registration over the
    // program's own entries must not save those as the earlier ones.
    if (!KeyExists(saved)) {
      const DWORD existed = KeyExists(key) ? 1 : 0;
      HKEY handle = nullptr;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, saved.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &handle, nullptr) != ERROR_SUCCESS) {
        ok = false;
        continue;
      }
      RegSetValueExW(handle, kSavedExisted, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&existed),
                     sizeof existed);
      RegCloseKey(handle);
      for (const KeptValue& kept : kKeptValues) {
        const auto value = ReadString(kept.inCommandKey ? commandKey : key, kept.name);
        if (value) ok = WriteString(saved, kept.savedName, *value) && ok;
      }
    }
    ok = WriteString(key, nullptr, L"URL:" + std::wstring(scheme)) && ok;
    ok = WriteString(key, kUrlProtocol, L"") && ok;
    ok = WriteString(commandKey, nullptr, OpenCommand(programPath)) && ok;
  }
  return ok;
}

bool UnregisterLinkOpener(const std::wstring& programPath) {
  bool ok = true;
  for (const wchar_t* scheme : kLinkSchemes) {
    const std::wstring key = kClasses + std::wstring(scheme);
    const std::wstring commandKey = key + kCommandKey;
    const std::wstring saved = kSaved + std::wstring(scheme);
    const auto command = ReadString(commandKey, nullptr);
    if (command && *command == OpenCommand(programPath)) {
      if (!KeyExists(saved)) {
        ok = DeleteTree(key) && ok;
        continue;
      }
      DWORD existed = 0;
      DWORD bytes = sizeof existed;
      RegGetValueW(HKEY_CURRENT_USER, saved.c_str(), kSavedExisted, RRF_RT_REG_DWORD, nullptr,
                   &existed, &bytes);
      if (existed == 0) {
        ok = DeleteTree(key) && ok;
      } else {
        for (const KeptValue& kept : kKeptValues) {
          const std::wstring& where = kept.inCommandKey ? commandKey : key;
          ok = PutBack(where, kept.name, ReadString(saved, kept.savedName)) && ok;
        }
      }
    }
    ok = DeleteTree(saved) && ok;
  }
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\sorrel-resolver\\Replaced");
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\sorrel-resolver");
  return ok;
}

SchemeSet OpenedSchemes(const std::wstring& programPath) {
  SchemeSet opened{};
  for (std::size_t i = 0; i < opened.size(); ++i) {
    const auto command =
        ReadString(kClasses + std::wstring(kLinkSchemes[i]) + kCommandKey, nullptr);
    opened[i] = command && *command == OpenCommand(programPath);
  }
  return opened;
}

std::wstring RegisterNotice(const SchemeSet& before, const SchemeSet& after) {
  if (None(after)) return LinksOf(after, false) + L"仍由其他程序打开，设置没有改变。";
  std::wstring notice = (after == before ? L"本工具已经是" : L"本工具现在是") +
                        LinksOf(after, true) + L"的默认打开方式";
  if (!All(after)) notice += L"；" + LinksOf(after, false) + L"仍由其他程序打开";
  return notice + L"。";
}

std::wstring UnregisterNotice(const SchemeSet& before, const SchemeSet& after) {
  SchemeSet undone{};
  for (std::size_t i = 0; i < undone.size(); ++i) undone[i] = before[i] && !after[i];
  if (None(undone)) return L"本工具不是迅雷、快车、qqdl 链接的默认打开方式，没有需要撤销的设置。";
  return L"已撤销：" + LinksOf(undone, true) + L"不再由本工具打开。";
}

}  // namespace sorrel
