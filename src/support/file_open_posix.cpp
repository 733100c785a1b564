#include "support/file_open.h"

#include "text/codepage.h"

namespace sorrel {

std::FILE* OpenFileForWriting(std::string_view gbkName) {
  return std::fopen(GbkToUtf8(gbkName).c_str(), "wb");
}

}  // namespace sorrel
