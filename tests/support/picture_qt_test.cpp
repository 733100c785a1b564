// Picture conversion over Qt and giflib: every format written and read back,
// GIF palettes, and inputs that are no picture. Runs without a
// QCoreApplication, as the conversion must.
#include "support/picture_qt.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <cmath>
#include <cstring>
#include <random>

namespace sorrel {
namespace {

QtPictureCodec& Codec() {
  static QtPictureCodec codec;
  return codec;
}

constexpr int kWidth = 64;
constexpr int kHeight = 48;

// A true-colour picture: a smooth gradient with a few solid blocks.
QImage TrueColourSource() {
  QImage image(kWidth, kHeight, QImage::Format_ARGB32);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      image.setPixel(x, y, qRgb(x * 4, y * 5, (x + y) * 2));
    }
  }
  for (int y = 10; y < 20; ++y) {
    for (int x = 30; x < 50; ++x) image.setPixel(x, y, qRgb(250, 20, 20));
  }
  return image;
}

ByteSet Write(const QImage& image, const char* format) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  EXPECT_TRUE(writer.write(image)) << format;
  return ByteSet(bytes.begin(), bytes.end());
}

QImage Read(const ByteSet& bytes) {
  return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()))
      .convertToFormat(QImage::Format_ARGB32);
}

// Mean absolute difference per colour channel.
double MeanDifference(const QImage& a, const QImage& b) {
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
             std::abs(qBlue(p) - qBlue(q));
    }
  }
  return sum / (3.0 * a.width() * a.height());
}

bool StartsWith(const ByteSet& bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

std::uint32_t Crc32(const std::uint8_t* data, size_t size) {
  std::uint32_t crc = 0xffffffffu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBigEndian(ByteSet& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<std::uint8_t>(value >> shift));
}

// A valid PNG signature and header chunk claiming a huge picture, followed by
// a tiny compressed stream.
ByteSet PngClaiming(std::uint32_t width, std::uint32_t height) {
  ByteSet png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  ByteSet header = {'I', 'H', 'D', 'R'};
  PutBigEndian(header, width);
  PutBigEndian(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});
  PutBigEndian(png, 13);
  png.insert(png.end(), header.begin(), header.end());
  PutBigEndian(png, Crc32(header.data(), header.size()));
  const ByteSet data = {'I', 'D', 'A', 'T', 0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  PutBigEndian(png, 8);
  png.insert(png.end(), data.begin(), data.end());
  PutBigEndian(png, Crc32(data.data(), data.size()));
  return png;
}

struct FormatCase {
  int code;
  const char* magic;
  double tolerance;
};

const std::vector<FormatCase> kFormats = {
    {1, "BM", 0.0}, {2, "\xff\xd8\xff", 6.0}, {3, "GIF8", 8.0}, {4, "", 0.0}, {5, "\x89PNG", 0.0},
};

// Each format is written, read back by Qt, and read by the conversion itself.
TEST(PictureQtTest, EveryFormatIsWrittenAndReadBackCloseToTheSource) {
  const QImage source = TrueColourSource();
  const ByteSet png = Write(source, "png");
  for (const auto& f : kFormats) {
    SCOPED_TRACE(f.code);
    ByteSet converted;
    ASSERT_TRUE(ConvertPicture(Codec(), png, f.code, {}, &converted));
    if (f.code == 4) {
      EXPECT_TRUE(StartsWith(converted, std::string_view("II*\0", 4)) ||
                  StartsWith(converted, std::string_view("MM\0*", 4)));
    } else {
      EXPECT_TRUE(StartsWith(converted, f.magic));
    }
    const QImage back = Read(converted);
    ASSERT_EQ(back.size(), source.size());
    EXPECT_LE(MeanDifference(back, source), f.tolerance);

    ByteSet again;
    ASSERT_TRUE(ConvertPicture(Codec(), converted, 5, {}, &again));
    EXPECT_EQ(Read(again), back);
  }
}

TEST(PictureQtTest, GifKeepsAFewColoursExactlyAndTransparency) {
  QImage source(20, 10, QImage::Format_ARGB32);
  source.fill(qRgb(10, 200, 30));
  for (int x = 0; x < 10; ++x) source.setPixel(x, 3, qRgb(1, 2, 3));
  for (int y = 0; y < 10; ++y) source.setPixel(19, y, qRgba(0, 0, 0, 0));
  ByteSet gif;
  ASSERT_TRUE(ConvertPicture(Codec(), Write(source, "png"), 3, {}, &gif));
  const QImage back = Read(gif);
  ASSERT_EQ(back.size(), source.size());
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 20; ++x) {
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      if (x == 19) {
        EXPECT_EQ(qAlpha(back.pixel(x, y)), 0);
      } else {
        EXPECT_EQ(back.pixel(x, y), source.pixel(x, y));
      }
    }
  }
}

TEST(PictureQtTest, AGifIsEncodedAnewNotCopied) {
  ByteSet gif;
  ASSERT_TRUE(ConvertPicture(Codec(), Write(TrueColourSource(), "png"), 3, {}, &gif));
  ByteSet padded = gif;
  padded.insert(padded.end(), {'t', 'a', 'i', 'l'});
  ByteSet again;
  ASSERT_TRUE(ConvertPicture(Codec(), padded, 3, {}, &again));
  EXPECT_NE(again, padded);
  EXPECT_EQ(Read(again), Read(gif));
}

TEST(PictureQtTest, BytesThatAreNoSanePictureGiveFalse) {
  const ByteSet png = Write(TrueColourSource(), "png");
  std::mt19937 random(7);
  ByteSet garbage(4096);
  for (auto& b : garbage) b = static_cast<std::uint8_t>(random());
  const std::string html =
      "<html><head><title>502 Bad Gateway</title></head><body>bad gateway</body></html>";

  std::vector<std::pair<std::string, ByteSet>> inputs = {
      {"empty", {}},
      {"garbage", garbage},
      {"html", ByteSet(html.begin(), html.end())},
      {"png signature only", ByteSet(png.begin(), png.begin() + 8)},
      {"huge png", PngClaiming(50000, 50000)},
      {"png just over the cap", PngClaiming(4097, 4096)},
  };
  for (const auto& f : kFormats) {
    ByteSet whole;
    ASSERT_TRUE(ConvertPicture(Codec(), png, f.code, {}, &whole));
    for (const size_t keep : {whole.size() / 2, whole.size() - 16}) {
      inputs.emplace_back("format " + std::to_string(f.code) + " cut to " + std::to_string(keep),
                          ByteSet(whole.begin(), whole.begin() + static_cast<long>(keep)));
    }
  }
  for (const auto& [name, input] : inputs) {
    SCOPED_TRACE(name);
    for (int code = 1; code <= 5; ++code) {
      ByteSet converted = {42};
      EXPECT_FALSE(ConvertPicture(Codec(), input, code, {}, &converted));
      EXPECT_EQ(converted, ByteSet{42});
    }
  }
}

TEST(PictureQtTest, TheSizeCapIsTheCodecs) {
  PictureLimits limits;
  limits.maxPixels = 100;
  QtPictureCodec small(limits);
  const ByteSet png = Write(TrueColourSource(), "png");
  EXPECT_TRUE(small.Reencode(png, PictureFormat::kPng).empty());
  EXPECT_FALSE(Codec().Reencode(png, PictureFormat::kPng).empty());
}

}  // namespace
}  // namespace sorrel
