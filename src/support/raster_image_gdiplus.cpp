#include "support/raster_image.h"

#include <climits>
#include <cstring>

#include "support/gdiplus_image.h"

namespace sorrel {

namespace gp = Gdiplus::DllExports;

RasterImage DecodeRaster(const ByteSet& picture, std::int64_t maxPixels) {
  GdiplusSession session;
  if (!session.started()) return {};
  GdiplusImage image;
  if (!DecodeImage(picture, image)) return {};
  UINT width = 0;
  UINT height = 0;
  gp::GdipGetImageWidth(image.get(), &width);
  gp::GdipGetImageHeight(image.get(), &height);
  if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX ||
      std::int64_t{width} * height > maxPixels) {
    return {};
  }
  Gdiplus::GpRect area(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  Gdiplus::BitmapData data{};
  if (gp::GdipBitmapLockBits(image.get(), &area, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                             &data) != Gdiplus::Ok) {
    return {};
  }
  RasterImage raster;
  raster.width = static_cast<int>(width);
  raster.height = static_cast<int>(height);
  raster.rgba.resize(std::size_t{width} * height * 4);
  // GDI+ holds each pixel as B, G, R, A bytes; the raster as R, G, B, A.
  for (UINT y = 0; y < height; ++y) {
    const auto* row =
        static_cast<const std::uint8_t*>(data.Scan0) + std::ptrdiff_t(y) * data.Stride;
    std::uint8_t* out = raster.rgba.data() + std::size_t{y} * width * 4;
    for (UINT x = 0; x < width; ++x, row += 4, out += 4) {
      out[0] = row[2];
      out[1] = row[1];
      out[2] = row[0];
      out[3] = row[3];
    }
  }
  gp::GdipBitmapUnlockBits(image.get(), &data);
  return raster;
}

}  // namespace sorrel
