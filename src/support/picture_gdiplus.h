// The Windows picture codec: GDI+ decodes from and encodes to streams on
// global memory, with the imaging library started and shut down inside
// every call. GIF output is made from an 8-bit indexed copy of the picture
// with a palette of its own colours (a colour cube when it has more than
// 256), so the encoder never has to reduce colours itself.
#pragma once

#include <cstdint>

#include "support/picture.h"

namespace sorrel {

struct GdiplusPictureLimits {
  // Largest picture encoded, by its decoded size.
  std::int64_t maxPixels = std::int64_t{16} << 20;
};

class GdiplusPictureCodec : public PictureCodec {
 public:
  explicit GdiplusPictureCodec(const GdiplusPictureLimits& limits = {});
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override;

 private:
  GdiplusPictureLimits limits_;
};

}  // namespace sorrel
