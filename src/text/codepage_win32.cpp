// Code-page conversions over the system's own converters. The program's
// ANSI code page is 936 on every machine, so it is passed explicitly rather
// than as CP_ACP, which would follow the user's locale.
#include <windows.h>

#include <climits>
#include <string>

#include "text/codepage.h"
#include "text/wide_win32.h"

namespace sorrel {

namespace {

UINT SystemCodePage(unsigned codePage) {
  return codePage == kCodePageAnsi ? kCodePageGbk : codePage;
}

// The converters count in int; longer input is cut rather than overflowing.
int CountOf(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Neither 936 nor 950 has a character outside the Basic Multilingual Plane,
// so each valid surrogate pair becomes the one "?" it ends as; some versions
// of the system's converter give one "?" per unit instead.
std::u16string OneMarkPerPair(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (IsHighSurrogate(text[at]) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
      out.push_back(u'?');
      ++at;
    } else {
      out.push_back(text[at]);
    }
  }
  return out;
}

}  // namespace

std::u16string DecodeCodePage(std::string_view bytes, unsigned codePage) {
  if (bytes.empty()) return {};
  const UINT system = SystemCodePage(codePage);
  const int inputCount = CountOf(bytes.size());
  const int needed = MultiByteToWideChar(system, 0, bytes.data(), inputCount, nullptr, 0);
  if (needed <= 0) return {};
  std::u16string out(static_cast<std::size_t>(needed), u'\0');
  const int written = MultiByteToWideChar(system, 0, bytes.data(), inputCount,
                                          reinterpret_cast<wchar_t*>(out.data()), needed);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

std::string EncodeCodePage(std::u16string_view input, unsigned codePage) {
  if (input.empty()) return {};
  const UINT system = SystemCodePage(codePage);
  const bool collapse = system == kCodePageGbk || system == kCodePageBig5;
  const std::u16string collapsed = collapse ? OneMarkPerPair(input) : std::u16string();
  const std::u16string_view text = collapse ? std::u16string_view(collapsed) : input;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int inputCount = CountOf(text.size());
  const int needed = WideCharToMultiByte(system, 0, wide, inputCount, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(system, 0, wide, inputCount, out.data(), needed, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return out;
}

Text MapToSimplifiedChinese(std::string_view gbk) {
  if (gbk.empty()) return {};
  constexpr LCID kZhCn =
      MAKELCID(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), SORT_DEFAULT);
  const int length = CountOf(gbk.size());
  Text out(static_cast<std::size_t>(length), ' ');
  const int written =
      LCMapStringA(kZhCn, LCMAP_SIMPLIFIED_CHINESE, gbk.data(), length, out.data(), length);
  // The mapping keeps the byte length; a failed call leaves the text as it was.
  if (written != length) return Text(gbk.substr(0, static_cast<std::size_t>(length)));
  return out;
}

std::wstring GbkToWide(std::string_view gbk) {
  const std::u16string wide = DecodeCodePage(gbk, kCodePageGbk);
  return std::wstring(wide.begin(), wide.end());
}

Text WideToGbk(std::wstring_view wide) {
  return EncodeCodePage(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()),
      kCodePageGbk);
}

}  // namespace sorrel
