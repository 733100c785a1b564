// The one GIF encoder of the Linux programs: giflib writes a single image
// from plain pixels, whichever library decoded them.
#pragma once

#include <cstdint>
#include <span>

#include "text/text.h"

namespace sorrel {

// `rgba` holds `width` x `height` pixels, rows top to bottom, four bytes a
// pixel: red, green, blue, alpha. Pixels less than half opaque become one
// transparent colour (and the file GIF89a); the rest keep their colours when
// there are few enough for the palette, or are reduced to a median-cut
// palette otherwise. The colour table is as small as the colours allow.
// Empty when a side is 0 or over 65535, `rgba` is not that size, or giflib
// fails.
ByteSet EncodeGif(int width, int height, std::span<const std::uint8_t> rgba);

}  // namespace sorrel
