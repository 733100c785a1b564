#include "text/convert.h"

namespace sorrel {

namespace {

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

std::u16string_view UpToZero(std::u16string_view wide) { return wide.substr(0, wide.find(u'\0')); }

}  // namespace

std::u16string MultiByteToUtf16(std::string_view text, unsigned codePage) {
  return DecodeCodePage(UpToZero(text), codePage);
}

Text Utf16ToMultiByte(std::u16string_view wide, unsigned codePage) {
  return EncodeCodePage(UpToZero(wide), codePage);
}

Text Big5ToGbk(std::string_view text) {
  return Utf16ToMultiByte(MultiByteToUtf16(text, kCodePageBig5), kCodePageGbk);
}

Text ToSimplifiedChinese(std::string_view gbk) { return MapToSimplifiedChinese(UpToZero(gbk)); }

Text Big5ToSimplifiedGbk(std::string_view text) { return ToSimplifiedChinese(Big5ToGbk(text)); }

ByteSet ZeroBytes(int n) { return n > 0 ? ByteSet(static_cast<size_t>(n), 0) : ByteSet(); }

Text SpaceText(int n) { return n > 0 ? Text(static_cast<size_t>(n), ' ') : Text(); }

}  // namespace sorrel
