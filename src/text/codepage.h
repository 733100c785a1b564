// Conversions between Windows code pages and UTF-16, with the results that
// Windows' own converters give with flags 0: malformed input becomes U+FFFD;
// a character the target code page lacks becomes its best fit (U+00A2 "¢"
// becomes "￠" in 936), or one "?" when it has none, also when it lies
// outside the Basic Multilingual Plane. One implementation per platform sits
// beside this header.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace sorrel {

enum CodePage : unsigned {
  kCodePageAnsi = 0,  // the program's ANSI code page, 936 on every platform
  kCodePageGbk = 936,
  kCodePageBig5 = 950,
  kCodePageUtf8 = 65001,
};

// MultiByteToWideChar(codePage, 0, ...) over exactly these bytes. A zero byte
// is converted like any other, to U+0000.
std::u16string DecodeCodePage(std::string_view bytes, unsigned codePage);
// WideCharToMultiByte(codePage, 0, ...) over exactly these units, with no
// default character given.
std::string EncodeCodePage(std::u16string_view text, unsigned codePage);
// LCMapStringA(zh-CN, LCMAP_SIMPLIFIED_CHINESE): traditional characters to
// simplified ones in code page 936 text, keeping its byte length.
Text MapToSimplifiedChinese(std::string_view gbk);

// UTF-8 text, up to its first zero byte, as code page 936 text: how a page
// body is converted when asked, and where the program's fixed texts, written
// in UTF-8 sources, become its text. GbkToUtf8 takes text back for display.
Text Utf8ToGbk(std::string_view text);
std::string GbkToUtf8(std::string_view gbk);

}  // namespace sorrel
