// Byte-exact fixtures written as hex ("D6 D0 41"), so that GBK and Big5
// bytes never appear raw in a UTF-8 source.
#pragma once

#include <string>
#include <string_view>

namespace sorrel::test {

inline std::string Hex(std::string_view hex) {
  std::string out;
  int high = -1;
  for (const char c : hex) {
    int value;
    if (c >= '0' && c <= '9') {
      value = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      value = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      value = c - 'a' + 10;
    } else {
      continue;
    }
    if (high < 0) {
      high = value;
    } else {
      out.push_back(static_cast<char>(high * 16 + value));
      high = -1;
    }
  }
  return out;
}

// The bytes of `text` as upper-case hex pairs, for readable failures.
inline std::string HexOf(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
    out.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
  }
  return out;
}

}  // namespace sorrel::test
