#include "text/decode.h"

#include "text/codepage.h"

namespace sorrel {

namespace {

// A digit's value; -2 for a byte that is no hex digit, 0 past the end, as
// the page decoder has always read malformed escapes.
int HexDigitAt(std::string_view text, size_t at) {
  static constexpr std::string_view kDigits = "0123456789ABCDEF";
  if (at >= text.size()) return 0;
  char c = text[at];
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const size_t value = kDigits.find(c);
  return value == std::string_view::npos ? -2 : static_cast<int>(value);
}

}  // namespace

Text UrlDecode(std::string_view text) {
  ByteSet out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(static_cast<std::uint8_t>(text[i]));
      continue;
    }
    const int high = HexDigitAt(text, i + 1);
    const int low = HexDigitAt(text, i + 2);
    i += 2;
    const auto byte = static_cast<std::uint8_t>((16 * high + low) & 0xFF);
    if (byte != 0) out.push_back(byte);
  }
  return Utf8ToAnsi(out);
}

Text Utf8ToAnsi(const ByteSet& utf8) {
  std::string terminated(ViewOf(utf8));
  terminated.push_back('\0');
  return WideToAnsi(DecodeCodePage(terminated, kCodePageUtf8));
}

Text WideToAnsi(std::u16string_view wide) {
  return EncodeCodePage(wide.substr(0, wide.find(u'\0')), kCodePageAnsi);
}

Text TextBetween(std::string_view text, std::string_view leftMarker, std::string_view rightMarker,
                 std::optional<int> startPos, bool caseSensitive) {
  static const Text kQuotePlaceholder = Utf8ToGbk("#引号");
  const Text left = Replace(leftMarker, kQuotePlaceholder, "\"", 1, -1, true);
  const Text right = Replace(rightMarker, kQuotePlaceholder, "\"", 1, -1, true);
  const int start = startPos.value_or(1);
  const int p = Find(text, left, start, !caseSensitive);
  if (p < 0) return {};
  const Text rest =
      Right(text, static_cast<int>(text.size()) - p - static_cast<int>(left.size()) + 1);
  const int q = Find(rest, right, start, !caseSensitive);
  if (q < 0) return {};
  return Left(rest, q - 1);
}

}  // namespace sorrel
