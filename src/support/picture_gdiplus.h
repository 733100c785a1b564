// The Windows picture codec: GDI+ decodes from and encodes to streams on
// global memory, with the imaging library started and shut down inside
// every call. GIF output is made from an 8-bit indexed copy of the picture
// with a palette of its own colours (a colour cube when it has more than
// 256), so the encoder never has to reduce colours itself.
#pragma once

#include "support/picture.h"

namespace sorrel {

class GdiplusPictureCodec : public PictureCodec {
 public:
  // The limit holds against the decoded size, before the picture is encoded.
  explicit GdiplusPictureCodec(const PictureLimits& limits = {});
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override;

 private:
  PictureLimits limits_;
};

}  // namespace sorrel
