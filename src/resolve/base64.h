// Decoding of the Base64-coded normal download address (RFC 4648, section 4
// alphabet), with this decoder's own rules for blanks, trailing "=", short
// input and foreign characters.
#pragma once

#include "support/event_pump.h"
#include "text/text.h"

namespace sorrel {

// `text` is the caller's variable: it receives the cleaned text (blanks and
// CR LF pairs removed). Pending events are processed after each group of
// four characters.
ByteSet Base64Decode(Text& text, EventPump& pump = NoEventPump());

}  // namespace sorrel
