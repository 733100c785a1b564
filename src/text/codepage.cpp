#include "text/codepage.h"

namespace sorrel {

Text Utf8ToGbk(std::string_view text) {
  return EncodeCodePage(DecodeCodePage(text.substr(0, text.find('\0')), kCodePageUtf8),
                        kCodePageGbk);
}

std::string GbkToUtf8(std::string_view gbk) {
  return EncodeCodePage(DecodeCodePage(gbk, kCodePageGbk), kCodePageUtf8);
}

}  // namespace sorrel
