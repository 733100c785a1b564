// A picture decoded into plain RGBA pixels, for drawing it as text. Each
// system decodes with its own libraries beside this header.
#pragma once

#include <cstdint>
#include <vector>

#include "support/picture.h"

namespace sorrel {

struct RasterImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // rows top to bottom, 4 bytes a pixel
  bool empty() const { return width == 0 || height == 0; }
};

// A complete PNG, JPEG, GIF (its first image) or uncompressed BMP, told by
// its signature; empty for anything else, for a cut-off file and for one
// whose header states more than `maxPixels` pixels.
RasterImage DecodeRaster(const ByteSet& picture,
                         std::int64_t maxPixels = PictureLimits{}.maxPixels);

}  // namespace sorrel
