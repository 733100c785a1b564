// Re-encoding of a picture held in memory into another file format, for the
// captcha picture that the service sends.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace sorrel {

enum class PictureFormat { kBmp = 1, kJpeg = 2, kGif = 3, kTiff = 4, kPng = 5 };

// The largest picture a codec takes, in pixels. Each codec checks it as early
// as its library lets it.
struct PictureLimits {
  std::int64_t maxPixels = std::int64_t{16} << 20;
};

// The platform's imaging library. Pictures come from the network, so a codec
// must turn anything that is not a well-formed picture of sane size into an
// empty result, and never start another program.
class PictureCodec {
 public:
  virtual ~PictureCodec() = default;
  // Decodes a complete picture file and encodes it anew as `format`. Empty
  // when the input cannot be decoded or the encoding fails.
  virtual ByteSet Reencode(const ByteSet& picture, PictureFormat format) = 0;
};

// Converts `picture` to format code 1-5 (BMP, JPEG, GIF, TIFF, PNG). True when
// converted bytes were produced; then they are stored in `converted` and,
// when `fileName` is not blank, also written to that file (a failed write
// does not change the result). On false, `converted` is left unchanged and
// no file is written.
bool ConvertPicture(PictureCodec& codec, const ByteSet& picture, int format,
                    const Text& fileName = {}, ByteSet* converted = nullptr);

}  // namespace sorrel
