#include "text/escape_controls.h"

#include <cstdint>

namespace sorrel {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence at `at` and its code point; 0
// when the bytes there are not one (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF).
size_t Sequence(std::string_view text, size_t at, char32_t& code) {
  const auto b = static_cast<unsigned char>(text[at]);
  if (b < 0x80) {
    code = b;
    return 1;
  }
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
    code = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    code = b & 0x0F;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    code = b & 0x07;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto c = static_cast<unsigned char>(text[at + k]);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return 0;
    code = (code << 6) | (c & 0x3F);
  }
  return length;
}

bool Shown(char32_t code) {
  return !(code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069));
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const size_t length = Sequence(text, at, code);
    if (length > 0 && Shown(code)) {
      out.append(text, at, length);
      at += length;
      continue;
    }
    if (length == 0 || code < 0x80) {
      const auto b = static_cast<unsigned char>(text[at]);
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
      ++at;
      continue;
    }
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code >> shift) & 15];
    at += length;
  }
  return out;
}

bool HasControlCharacters(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    char32_t code = 0;
    const size_t length = Sequence(text, at, code);
    if (length == 0 || !Shown(code)) return true;
    at += length;
  }
  return false;
}

}  // namespace sorrel
