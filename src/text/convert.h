// Code-page conversions of downloaded pages into the program's code page 936
// text. A text argument is taken up to its first zero byte.
#pragma once

#include <string>

#include "text/codepage.h"
#include "text/text.h"

namespace sorrel {

// UTF-16 units of the text, without the terminating zero unit.
std::u16string MultiByteToUtf16(std::string_view text, unsigned codePage = kCodePageUtf8);
// The text up to the first zero unit, in `codePage`.
Text Utf16ToMultiByte(std::u16string_view wide, unsigned codePage = kCodePageAnsi);

Text Big5ToGbk(std::string_view text);
Text ToSimplifiedChinese(std::string_view gbk);
Text Big5ToSimplifiedGbk(std::string_view text);

ByteSet ZeroBytes(int n);
Text SpaceText(int n);

}  // namespace sorrel
