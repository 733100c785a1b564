// The Linux window's picture codec: Qt's image readers decode, Qt's writers
// encode BMP, JPEG, PNG and TIFF, and the shared giflib encoder writes GIF.
#pragma once

#include "support/picture.h"

namespace sorrel {

class QtPictureCodec : public PictureCodec {
 public:
  // The limit holds against the size a picture's header states, before any
  // pixel is decoded.
  explicit QtPictureCodec(const PictureLimits& limits = {});
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override;

 private:
  PictureLimits limits_;
};

}  // namespace sorrel
