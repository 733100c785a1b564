// Files named by code page 936 text.
#pragma once

#include <cstdio>
#include <string_view>

namespace sorrel {

// Opens for writing, in binary, the file that code page 936 text names, in
// the platform's own file names: UTF-8 on Linux, UTF-16 through the W
// functions on Windows (whose A functions would read the name in whatever
// code page the system uses). Null when it cannot be opened.
std::FILE* OpenFileForWriting(std::string_view gbkName);

}  // namespace sorrel
