// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include "resolve/base64_standard.h"

namespace sorrel {

std::string Win32Base64::Encode(std::string_view bytes) const {
  if (bytes.empty()) return {};
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
  const auto* data = reinterpret_cast<const BYTE*>(bytes.data());
  const auto size = static_cast<DWORD>(bytes.size());
  DWORD length = 0;
  if (!CryptBinaryToStringA(data, size, flags, nullptr, &length)) return {};
  std::string out(length, '\0');
  if (!CryptBinaryToStringA(data, size, flags, out.data(), &length)) return {};
  out.resize(length);
  return out;
}

std::optional<std::string> Win32Base64::DecodeCheckedGroups(std::string_view padded, size_t) const {
  const auto count = static_cast<DWORD>(padded.size());
  DWORD length = 0;
  if (!CryptStringToBinaryA(padded.data(), count, CRYPT_STRING_BASE64, nullptr, &length, nullptr,
                            nullptr)) {
    return std::nullopt;
  }
  std::string out(length, '\0');
  if (!CryptStringToBinaryA(padded.data(), count, CRYPT_STRING_BASE64,
                            reinterpret_cast<BYTE*>(out.data()), &length, nullptr, nullptr)) {
    return std::nullopt;
  }
  out.resize(length);
  return out;
}

}  // namespace sorrel
