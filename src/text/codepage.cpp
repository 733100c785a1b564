#include "text/codepage.h"

namespace sorrel {

Text GbkFromUtf8(std::string_view utf8) {
  return EncodeCodePage(DecodeCodePage(utf8, kCodePageUtf8), kCodePageGbk);
}

std::string Utf8FromGbk(std::string_view gbk) {
  return EncodeCodePage(DecodeCodePage(gbk, kCodePageGbk), kCodePageUtf8);
}

}  // namespace sorrel
