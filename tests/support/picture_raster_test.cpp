// The picture codec without a GUI toolkit: every format it writes reads back
// to the same pixels (JPEG close to them), and what is no sane picture gives
// nothing.
#include "support/picture_raster.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace sorrel {
namespace {

// A 33 x 35 picture in four colours, a different one in each quarter, so
// that a flipped decoding shows (edges on JPEG blocks); odd sizes test the
// row padding.
RasterImage Sample() {
  RasterImage raster{33, 35, {}};
  for (int y = 0; y < raster.height; ++y) {
    for (int x = 0; x < raster.width; ++x) {
      std::uint8_t r = x < 16 ? 250 : 10, g = y < 16 ? 200 : 30, b = 60;
      raster.rgba.insert(raster.rgba.end(), {r, g, b, 255});
    }
  }
  return raster;
}

ByteSet Encode(const RasterImage& raster, PictureFormat format) {
  // The codec takes a file: start from the lossless BMP written by hand here.
  ByteSet bmp = {'B', 'M'};
  auto put = [&](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bmp.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const std::uint32_t stride = (raster.width * 3 + 3) / 4 * 4;
  put(54 + stride * raster.height, 4), put(0, 4), put(54, 4), put(40, 4);
  put(raster.width, 4), put(-raster.height, 4), put(1, 2), put(24, 2), put(0, 4);
  put(stride * raster.height, 4);
  bmp.resize(bmp.size() + 16, 0);
  for (int y = 0; y < raster.height; ++y) {
    for (int x = 0; x < raster.width; ++x) {
      const std::uint8_t* p = raster.rgba.data() + (y * raster.width + x) * 4;
      bmp.insert(bmp.end(), {p[2], p[1], p[0]});
    }
    bmp.resize(bmp.size() + stride - raster.width * 3, 0);
  }
  RasterPictureCodec codec;
  return codec.Reencode(bmp, format);
}

// JPEG blends colours across an edge; its pixels next to the edges between
// the quarters are left out.
int MaxDifference(const RasterImage& a, const RasterImage& b, bool besideEdges) {
  int most = 0;
  for (size_t i = 0; i < a.rgba.size(); ++i) {
    const int x = static_cast<int>(i / 4) % a.width, y = static_cast<int>(i / 4) / a.width;
    if (!besideEdges && (std::abs(x - 16) < 3 || std::abs(y - 16) < 3)) continue;
    most = std::max(most, std::abs(a.rgba[i] - b.rgba[i]));
  }
  return most;
}

TEST(PictureRasterTest, EveryFormatReadsBackToThePixels) {
  const RasterImage source = Sample();
  const struct {
    PictureFormat format;
    std::string magic;
    int tolerance;
  } cases[] = {{PictureFormat::kBmp, "BM", 0},
               {PictureFormat::kGif, "GIF8", 0},
               {PictureFormat::kPng, "\x89PNG", 0},
               {PictureFormat::kJpeg, "\xff\xd8\xff", 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.magic);
    const ByteSet bytes = Encode(source, c.format);
    ASSERT_EQ(ViewOf(bytes).substr(0, c.magic.size()), c.magic);
    const RasterImage back = DecodeRaster(bytes);
    ASSERT_EQ(back.width, 33);
    ASSERT_EQ(back.height, 35);
    EXPECT_LE(MaxDifference(source, back, c.tolerance == 0), c.tolerance);
  }
  EXPECT_TRUE(Encode(source, PictureFormat::kTiff).empty());
}

// A 2 x 1 GIF89a: one red pixel, one transparent.
TEST(PictureRasterTest, GifLaysTransparentPixelsOnWhite) {
  const ByteSet transparent = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x02, 0x00, 0x01, 0x00, 0x80,
                               0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0xf9, 0x04,
                               0x01, 0x00, 0x00, 0x01, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x02,
                               0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x0a, 0x00, 0x3b};
  ASSERT_EQ(DecodeRaster(transparent).rgba,
            (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 0, 0}));
  const ByteSet gif = RasterPictureCodec().Reencode(transparent, PictureFormat::kGif);
  EXPECT_EQ(ViewOf(gif).substr(0, 6), "GIF87a");
  EXPECT_EQ(DecodeRaster(gif).rgba,
            (std::vector<std::uint8_t>{255, 0, 0, 255, 255, 255, 255, 255}));
}

TEST(PictureRasterTest, NoSanePictureGivesNothing) {
  const RasterImage source = Sample();
  for (PictureFormat format :
       {PictureFormat::kBmp, PictureFormat::kGif, PictureFormat::kPng, PictureFormat::kJpeg}) {
    const ByteSet whole = Encode(source, format);
    SCOPED_TRACE(static_cast<int>(format));
    EXPECT_TRUE(DecodeRaster(ByteSet(whole.begin(), whole.begin() + whole.size() / 2)).empty());
    EXPECT_TRUE(DecodeRaster(whole, 33 * 35 - 1).empty());  // more pixels than allowed
  }
  EXPECT_TRUE(DecodeRaster(ByteSet{'G', 'I', 'F', '8', '9', 'a', 0xff, 0xff}).empty());
  EXPECT_TRUE(DecodeRaster({}).empty());
  EXPECT_TRUE(DecodeRaster(ByteSet{'h', 't', 'm', 'l'}).empty());
}

}  // namespace
}  // namespace sorrel
