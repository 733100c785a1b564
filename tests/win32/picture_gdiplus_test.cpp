// Picture conversion over GDI+: every format code gives a file of that
// format, GIF keeps the picture's colours, and bad input gives nothing.
#include "support/picture_gdiplus.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "support/picture.h"
#include "text/wide_win32.h"

namespace sorrel {
namespace {

GdiplusPictureCodec& Codec() {
  static GdiplusPictureCodec codec;
  return codec;
}

using Colour = std::function<std::uint32_t(int x, int y)>;  // 0xRRGGBB

// A 24-bit bottom-up BMP file.
ByteSet Bmp(int width, int height, const Colour& colour) {
  const int stride = (width * 3 + 3) & ~3;
  const std::uint32_t dataSize = static_cast<std::uint32_t>(stride * height);
  ByteSet file;
  auto put = [&file](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  };
  put('B' | 'M' << 8, 2);
  put(54 + dataSize, 4);
  put(0, 4);
  put(54, 4);
  put(40, 4);
  put(static_cast<std::uint32_t>(width), 4);
  put(static_cast<std::uint32_t>(height), 4);
  put(1, 2);
  put(24, 2);
  put(0, 4);
  put(dataSize, 4);
  put(2835, 4);
  put(2835, 4);
  put(0, 4);
  put(0, 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) put(colour(x, y), 3);
    for (int pad = width * 3; pad < stride; ++pad) file.push_back(0);
  }
  return file;
}

// Width, height and the colour at (x, y) of a decoded BMP: 8-bit indexed,
// 24-bit or 32-bit.
struct Decoded {
  int width = 0;
  int height = 0;
  int bits = 0;
  ByteSet file;
  std::uint32_t Read32(std::size_t at) const {
    return file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
           static_cast<std::uint32_t>(file[at + 3]) << 24;
  }
  std::uint32_t At(int x, int y) const {
    const std::uint32_t offset = Read32(10);
    const int stride = (width * bits / 8 + 3) & ~3;
    const std::size_t row = offset + static_cast<std::size_t>(height - 1 - y) * stride;
    if (bits == 8) return Read32(14 + Read32(14) + 4 * std::size_t{file[row + x]}) & 0xFFFFFF;
    const std::size_t at = row + static_cast<std::size_t>(x) * (bits / 8);
    return file[at] | file[at + 1] << 8 | file[at + 2] << 16;
  }
};

Decoded AsBmp(const ByteSet& picture) {
  Decoded d;
  if (!ConvertPicture(Codec(), picture, 1, {}, &d.file) || d.file.size() < 54) return d;
  d.width = static_cast<int>(d.Read32(18));
  d.height = static_cast<int>(d.Read32(22));
  d.bits = d.file[28] | d.file[29] << 8;
  return d;
}

std::uint32_t FourColours(int x, int y) {
  static const std::uint32_t kColours[] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  return kColours[(x / 4 + y / 4) % 4];
}

std::uint32_t Gradient(int x, int y) {
  return static_cast<std::uint32_t>(x * 4) << 16 | (y * 4) << 8 | 0x40;
}

TEST(PictureGdiplusTest, EveryFormatCodeGivesThatFormat) {
  const ByteSet source = Bmp(16, 12, FourColours);
  struct Case {
    int format;
    std::string magic;
  };
  for (const Case& c : {Case{1, "BM"}, Case{2, "\xFF\xD8\xFF"}, Case{3, "GIF8"}, Case{4, ""},
                        Case{5, "\x89PNG\r\n\x1A\n"}}) {
    SCOPED_TRACE(c.format);
    ByteSet converted;
    ASSERT_TRUE(ConvertPicture(Codec(), source, c.format, {}, &converted));
    const std::string head(converted.begin(),
                           converted.begin() + std::min<std::size_t>(8, converted.size()));
    if (c.format == 4) {
      EXPECT_TRUE(head.rfind("II*", 0) == 0 || head.rfind("MM", 0) == 0) << head;
    } else {
      EXPECT_EQ(head.substr(0, c.magic.size()), c.magic);
    }
    const Decoded back = AsBmp(converted);
    EXPECT_EQ(back.width, 16);
    EXPECT_EQ(back.height, 12);
    if (c.format != 2) {
      EXPECT_EQ(back.At(5, 9), FourColours(5, 9));
    }
  }
}

TEST(PictureGdiplusTest, GifKeepsTheColoursOfAPictureWithFewOfThem) {
  ByteSet gif;
  ASSERT_TRUE(ConvertPicture(Codec(), Bmp(20, 10, FourColours), 3, {}, &gif));
  const Decoded back = AsBmp(gif);
  ASSERT_EQ(back.width, 20);
  ASSERT_EQ(back.height, 10);
  for (int y = 0; y < 10; y += 3) {
    for (int x = 0; x < 20; x += 3) {
      EXPECT_EQ(back.At(x, y), FourColours(x, y)) << x << "," << y;
    }
  }
}

TEST(PictureGdiplusTest, GifOfAPictureWithManyColoursStaysClose) {
  ByteSet gif;
  ASSERT_TRUE(ConvertPicture(Codec(), Bmp(64, 64, Gradient), 3, {}, &gif));
  const Decoded back = AsBmp(gif);
  ASSERT_EQ(back.width, 64);
  ASSERT_EQ(back.height, 64);
  for (const auto& [x, y] : {std::pair{0, 0}, {63, 0}, {0, 63}, {63, 63}, {32, 20}}) {
    const std::uint32_t want = Gradient(x, y);
    const std::uint32_t got = back.At(x, y);
    for (int shift : {0, 8, 16}) {
      const int difference =
          static_cast<int>((want >> shift) & 0xFF) - static_cast<int>((got >> shift) & 0xFF);
      EXPECT_LE(std::abs(difference), 26) << x << "," << y;
    }
  }
}

TEST(PictureGdiplusTest, AGifIsEncodedAnew) {
  ByteSet once;
  ASSERT_TRUE(ConvertPicture(Codec(), Bmp(8, 8, FourColours), 3, {}, &once));
  ByteSet padded = once;
  padded.insert(padded.end(), {0x00, 0x00, 0x00});  // bytes after the trailer
  ByteSet twice;
  ASSERT_TRUE(ConvertPicture(Codec(), padded, 3, {}, &twice));
  EXPECT_NE(twice, padded);
  EXPECT_EQ(twice.back(), 0x3B);
}

TEST(PictureGdiplusTest, BadInputAndUnknownFormatsGiveNothing) {
  const ByteSet good = Bmp(4, 4, FourColours);
  ByteSet truncated(good.begin(), good.begin() + 30);
  struct Case {
    const char* label;
    ByteSet picture;
    int format;
  };
  for (const Case& c : {Case{"text", BytesOf("<html>not a picture</html>"), 3},
                        Case{"truncated header", truncated, 3}, Case{"empty", {}, 3},
                        Case{"format 0", good, 0}, Case{"format 6", good, 6}}) {
    SCOPED_TRACE(c.label);
    ByteSet converted = {1, 2, 3};
    EXPECT_FALSE(ConvertPicture(Codec(), c.picture, c.format, {}, &converted));
    EXPECT_EQ(converted, (ByteSet{1, 2, 3}));
  }
}

// The name is code page 936 text; the file must get its Chinese name under
// any system code page.
TEST(PictureGdiplusTest, WritesTheConvertedBytesToANamedFile) {
  wchar_t directory[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, directory), 0u);
  const std::wstring path = std::wstring(directory) + L"验证码.png";
  _wremove(path.c_str());
  ByteSet converted;
  ASSERT_TRUE(ConvertPicture(Codec(), Bmp(4, 4, FourColours), 5,
                             WideToGbk(directory) + "\xD1\xE9\xD6\xA4\xC2\xEB.png", &converted));
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  ASSERT_NE(file, nullptr);
  ByteSet written(converted.size() + 1);
  written.resize(std::fread(written.data(), 1, written.size(), file));
  std::fclose(file);
  EXPECT_EQ(written, converted);
  _wremove(path.c_str());
}

}  // namespace
}  // namespace sorrel
