// A picture codec without a GUI toolkit, for the command line: libpng,
// libjpeg and giflib decode into an RGBA raster and encode it anew (BMP by
// hand; TIFF is not written).
#pragma once

#include "support/picture.h"
#include "support/raster_image.h"

namespace sorrel {

class RasterPictureCodec : public PictureCodec {
 public:
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override;
};

}  // namespace sorrel
