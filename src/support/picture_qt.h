// The Linux window's picture codec: Qt's image readers decode, Qt's writers
// encode BMP, JPEG, PNG and TIFF, and the shared giflib encoder writes GIF.
#pragma once

#include <cstdint>

#include "support/picture.h"

namespace sorrel {

struct QtPictureLimits {
  // Largest picture decoded, by the size its header states.
  std::int64_t maxPixels = std::int64_t{16} << 20;
};

class QtPictureCodec : public PictureCodec {
 public:
  explicit QtPictureCodec(const QtPictureLimits& limits = {});
  ByteSet Reencode(const ByteSet& picture, PictureFormat format) override;

 private:
  QtPictureLimits limits_;
};

}  // namespace sorrel
