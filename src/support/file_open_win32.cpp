#include "support/file_open.h"

#include "text/wide_win32.h"

namespace sorrel {

std::FILE* OpenFileForWriting(std::string_view gbkName) {
  return _wfopen(GbkToWide(gbkName).c_str(), L"wb");
}

}  // namespace sorrel
