// The program's code page 936 texts at the edge of the Windows user
// interface. The window, the notice box, the window list, the clipboard and
// file names speak UTF-16 through the W functions, so that what the user sees
// and types does not depend on the system's ANSI code page; these are the two
// conversions across that edge, both naming code page 936.
#pragma once

#include <string>
#include <string_view>

#include "text/text.h"

namespace sorrel {

// MultiByteToWideChar(936, 0, ...).
std::wstring GbkToWide(std::string_view gbk);
// WideCharToMultiByte(936, 0, ...): characters that code page 936 lacks take
// Windows' best fit where it has one, "?" otherwise, as the A functions of a
// Chinese system would give them.
Text WideToGbk(std::wstring_view wide);

}  // namespace sorrel
