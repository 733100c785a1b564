// Percent-decoding of whole pages and cutting text between two markers.
#pragma once

#include <optional>
#include <string>

#include "text/text.h"

namespace sorrel {

// Replaces every "%HH" by its byte, then converts the result from UTF-8 to
// the ANSI code page.
Text UrlDecode(std::string_view text);
Text Utf8ToAnsi(const ByteSet& utf8);
// `wide` holds UTF-16 units; conversion stops at the first zero unit.
Text WideToAnsi(std::u16string_view wide);

// The text after the first occurrence of `leftMarker` (at or after
// `startPos`) up to the next occurrence of `rightMarker`; empty text when
// either is missing. "#引号" in a marker stands for a double quote. ASCII case
// is ignored unless `caseSensitive`.
Text TextBetween(std::string_view text, std::string_view leftMarker, std::string_view rightMarker,
                 std::optional<int> startPos = {}, bool caseSensitive = false);

}  // namespace sorrel
