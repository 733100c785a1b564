// A picture codec without a GUI toolkit, for the command line: libpng,
// libjpeg and giflib decode into an RGBA raster and encode it anew (BMP by
// hand; TIFF is not written).
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

class RasterPictureCodec : public PictureCodec {
 public:
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override;
};

}  // namespace sorrel
