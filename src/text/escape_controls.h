// Text from a server shown on a terminal or console: control characters and
// the characters that turn the direction of what follows would let it
// clear the screen, set the window title, forge lines or disguise a file
// name, so they are shown as visible escapes instead. Texts are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace sorrel {

// C0 controls and DEL as "\x1b", C1 controls (U+0080 to U+009F) and the
// bidirectional embeddings, overrides and isolates (U+202A to U+202E,
// U+2066 to U+2069) as "\u202e", and a byte that is not part of valid
// UTF-8 as "\xff". Everything else passes unchanged; a backslash is not
// doubled, so that paths stay readable.
std::string EscapeControls(std::string_view text);

// True when EscapeControls would change `text`.
bool HasControlCharacters(std::string_view text);

}  // namespace sorrel
