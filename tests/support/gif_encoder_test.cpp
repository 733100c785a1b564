// The shared GIF encoder: its bytes for a few colours with and without a
// transparent pixel, the palette of a picture with many colours, and sizes
// it refuses.
#include "support/gif_encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "support/picture_raster.h"

namespace sorrel {
namespace {

constexpr std::uint8_t R[] = {255, 0, 0, 255}, G[] = {0, 255, 0, 255}, B[] = {0, 0, 255, 255},
                       Clear[] = {9, 0, 255, 0};

std::vector<std::uint8_t> Pixels(std::initializer_list<const std::uint8_t*> pixels) {
  std::vector<std::uint8_t> rgba;
  for (const std::uint8_t* p : pixels) rgba.insert(rgba.end(), p, p + 4);
  return rgba;
}

TEST(GifEncoderTest, AFewColoursAreWrittenAsTheyWere) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> rgba;
    ByteSet gif;
  } cases[] = {
      {"opaque",
       Pixels({R, G, R, B, R, B, G, B}),
       {0x47, 0x49, 0x46, 0x38, 0x37, 0x61, 0x04, 0x00, 0x02, 0x00, 0x91, 0x00, 0x00, 0xff, 0x00,
        0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00,
        0x04, 0x00, 0x02, 0x00, 0x00, 0x02, 0x04, 0x44, 0x20, 0x18, 0x52, 0x00, 0x3b}},
      {"one transparent",
       Pixels({R, G, R, B, R, Clear, G, B}),
       {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x04, 0x00, 0x02, 0x00, 0x91, 0x00, 0x00,
        0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0xff, 0x00, 0x00, 0x00, 0x21,
        0xf9, 0x04, 0x01, 0x00, 0x00, 0x03, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x04,
        0x00, 0x02, 0x00, 0x00, 0x02, 0x05, 0x44, 0x20, 0x30, 0x21, 0x05, 0x00, 0x3b}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EncodeGif(4, 2, c.rgba), c.gif);
  }
}

// 1600 colours in 16 tight clusters: the median cut finds 16, and the colour
// table holds 16 entries, not 256.
TEST(GifEncoderTest, ManyColoursGetAPaletteNoLargerThanTheyNeed) {
  std::vector<std::uint8_t> rgba;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 40; ++x) {
      rgba.insert(rgba.end(), {static_cast<std::uint8_t>(x % 8 + y / 10 * 64),
                               static_cast<std::uint8_t>(y % 8 + x / 10 * 64), 100, 255});
    }
  }
  const ByteSet gif = EncodeGif(40, 40, rgba);
  ASSERT_GT(gif.size(), 13u);
  EXPECT_EQ(ViewOf(gif).substr(0, 6), "GIF87a");
  EXPECT_EQ(gif[10], 0xb3);  // a global table of 2^4 colours
  const RasterImage back = DecodeRaster(gif);
  ASSERT_EQ(back.rgba.size(), rgba.size());
  for (size_t i = 0; i < rgba.size(); ++i) {
    ASSERT_LE(std::abs(back.rgba[i] - rgba[i]), 7) << i;
  }
}

TEST(GifEncoderTest, RefusesSizesItCannotWrite) {
  const struct {
    int width, height;
    size_t bytes;
  } cases[] = {{0, 1, 0}, {1, 0, 0}, {65536, 1, 65536 * 4}, {2, 2, 15}, {2, 2, 17}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << ", " << c.bytes);
    EXPECT_TRUE(EncodeGif(c.width, c.height, std::vector<std::uint8_t>(c.bytes, 255)).empty());
  }
  EXPECT_FALSE(EncodeGif(65535, 1, std::vector<std::uint8_t>(65535 * 4, 255)).empty());
}

}  // namespace
}  // namespace sorrel
