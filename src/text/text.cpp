#include "text/text.h"

#include <algorithm>

#include "text/ascii.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

// Whether `sought` stands at byte offset `at` of `text`. Only bytes of
// single-byte characters are folded: a trail byte such as 0x41 is no letter.
bool MatchesAt(std::string_view text, size_t at, std::string_view sought, bool ignoreCase) {
  if (text.size() - at < sought.size()) return false;
  for (size_t i = 0; i < sought.size(); ++i) {
    const char a = text[at + i];
    const char b = sought[i];
    if (IsLeadByte(static_cast<unsigned char>(b)) && i + 1 < sought.size()) {
      if (a != b || text[at + i + 1] != sought[i + 1]) return false;
      ++i;
      continue;
    }
    if (ignoreCase ? FoldAscii(a) != FoldAscii(b) : a != b) return false;
  }
  return true;
}

size_t CharWidthAt(std::string_view text, size_t at) {
  return (IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size()) ? 2 : 1;
}

bool IsSpaceAt(std::string_view text, size_t at, size_t* width) {
  if (text[at] == ' ') {
    *width = 1;
    return true;
  }
  if (static_cast<unsigned char>(text[at]) == 0xA1 && at + 1 < text.size() &&
      static_cast<unsigned char>(text[at + 1]) == 0xA1) {
    *width = 2;
    return true;
  }
  return false;
}

}  // namespace

Text TextOf(const ByteSet& bytes) {
  const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return Text(bytes.begin(), zero);
}

ByteSet BytesOf(std::string_view text) { return ByteSet(text.begin(), text.end()); }

int Find(std::string_view text, std::string_view sought, int start, bool ignoreCase) {
  const size_t from = start <= 1 ? 0 : static_cast<size_t>(start - 1);
  if (from >= text.size()) return -1;
  if (sought.empty()) return 1;
  // Walk character boundaries from the first byte, so that a start inside a
  // double-byte character never makes its trail byte a candidate. Only a
  // boundary whose first byte could begin the sought text is compared in
  // full: pages are long and most bytes begin nothing.
  const char first = sought.front();
  const char folded = FoldAscii(first);
  for (size_t at = 0; at < text.size(); at += CharWidthAt(text, at)) {
    if (at < from) continue;
    const char c = text[at];
    if (c != first && !(ignoreCase && FoldAscii(c) == folded)) continue;
    if (MatchesAt(text, at, sought, ignoreCase)) return static_cast<int>(at + 1);
  }
  return -1;
}

Text Replace(std::string_view text, std::string_view from, std::string_view to, int start,
             int count, bool caseSensitive) {
  if (from.empty() || count == 0) return Text(text);
  Text out;
  const size_t begin = start <= 1 ? 0 : static_cast<size_t>(start - 1);
  size_t at = 0;
  int done = 0;
  while (at < text.size()) {
    if (at >= begin && (count < 0 || done < count) && MatchesAt(text, at, from, !caseSensitive)) {
      out.append(to);
      at += from.size();
      ++done;
      continue;
    }
    const size_t width = CharWidthAt(text, at);
    out.append(text.substr(at, width));
    at += width;
  }
  return out;
}

Text Left(std::string_view text, int n) {
  if (n <= 0) return {};
  return Text(text.substr(0, static_cast<size_t>(n)));
}

Text Right(std::string_view text, int n) {
  if (n <= 0) return {};
  const size_t len = std::min(text.size(), static_cast<size_t>(n));
  return Text(text.substr(text.size() - len));
}

Text Mid(std::string_view text, int start, int n) {
  if (n <= 0 || start < 1 || static_cast<size_t>(start) > text.size()) return {};
  return Text(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(n)));
}

Text TrimSpaces(std::string_view text) {
  size_t begin = text.size();
  size_t end = 0;
  size_t width = 0;
  for (size_t at = 0; at < text.size(); at += width) {
    if (IsSpaceAt(text, at, &width)) continue;
    width = CharWidthAt(text, at);
    begin = std::min(begin, at);
    end = at + width;
  }
  return begin < end ? Text(text.substr(begin, end - begin)) : Text();
}

Text RemoveSpaces(std::string_view text) {
  Text out;
  size_t width = 0;
  for (size_t at = 0; at < text.size();) {
    if (IsSpaceAt(text, at, &width)) {
      at += width;
      continue;
    }
    width = CharWidthAt(text, at);
    out.append(text.substr(at, width));
    at += width;
  }
  return out;
}

Text ToUpperAscii(std::string_view text) {
  Text out(text);
  for (size_t at = 0; at < out.size(); at += CharWidthAt(out, at)) {
    if (out[at] >= 'a' && out[at] <= 'z') out[at] = static_cast<char>(out[at] - 'a' + 'A');
  }
  return out;
}

Text ToLowerAscii(std::string_view text) {
  Text out(text);
  for (size_t at = 0; at < out.size(); at += CharWidthAt(out, at)) out[at] = FoldAscii(out[at]);
  return out;
}

Text NumberText(long long value) { return std::to_string(value); }

Text BoolText(bool value) { return Utf8ToGbk(value ? "真" : "假"); }

}  // namespace sorrel
