// The program's text runtime. A Text is a byte string in code page 936 (GBK);
// a ByteSet is a byte vector. Positions are 1-based and count bytes.
// A GBK character is a lead byte of 0x80 or above and the byte after it; the
// searches here step over such characters as units, so an occurrence never
// starts on a trail byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorrel {

using Text = std::string;
// A byte vector, not a set: bytes of any value in order, repeats kept, such
// as a response body or a picture.
using ByteSet = std::vector<std::uint8_t>;

// The bytes of a byte set up to, not including, its first zero byte.
Text TextOf(const ByteSet& bytes);
// The bytes of a text, without any terminating zero.
ByteSet BytesOf(std::string_view text);

// True for a lead byte of a double-byte character.
inline bool IsLeadByte(unsigned char c) { return c >= 0x80; }

// 1-based position of the first occurrence of `sought` at or after `start`,
// or -1. A start of 1 or less searches from the beginning. `ignoreCase`
// folds ASCII letters of single-byte characters only. An empty `sought` is
// found at position 1 whenever the searched part is not empty.
int Find(std::string_view text, std::string_view sought, int start = 1, bool ignoreCase = false);

// Replaces occurrences of `from` by `to`, left to right, beginning at
// `start`, at most `count` times (all when count < 0). ASCII case is
// ignored unless `caseSensitive`.
Text Replace(std::string_view text, std::string_view from, std::string_view to, int start = 1,
             int count = -1, bool caseSensitive = false);

// First n bytes, last n bytes, n bytes from 1-based `start`. Counts of 0 or
// less and starts outside the text give empty text; counts clip at the end.
Text Left(std::string_view text, int n);
Text Right(std::string_view text, int n);
Text Mid(std::string_view text, int start, int n);

// Spaces are the ASCII space and the full-width space A1 A1.
Text TrimSpaces(std::string_view text);
Text RemoveSpaces(std::string_view text);

Text ToUpperAscii(std::string_view text);
Text ToLowerAscii(std::string_view text);

Text NumberText(long long value);
// "真" or "假".
Text BoolText(bool value);

// Small conversions used where bytes travel as either kind.
inline std::string_view ViewOf(const ByteSet& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace sorrel
