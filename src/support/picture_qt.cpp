#include "support/picture_qt.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "support/gif_encoder.h"

namespace sorrel {

namespace {

// Qt refuses any single image buffer above this many megabytes, whatever a
// handler decides to allocate past the header check.
constexpr int kAllocationLimitMb = 128;

// The formats read, told by their signatures. The caller's bytes come from
// the network, so no other reader (and no reader's guesswork about content)
// gets to see them.
const char* DetectFormat(const ByteSet& picture) {
  const std::string_view bytes = ViewOf(picture);
  auto startsWith = [&](std::string_view magic) { return bytes.substr(0, magic.size()) == magic; };
  if (startsWith("\x89PNG\r\n\x1a\n")) return "png";
  if (startsWith("\xff\xd8\xff")) return "jpeg";
  if (startsWith("GIF87a") || startsWith("GIF89a")) return "gif";
  if (startsWith("BM")) return "bmp";
  if (startsWith(std::string_view("II*\0", 4)) || startsWith(std::string_view("MM\0*", 4))) {
    return "tiff";
  }
  return nullptr;
}

std::uint32_t Byte(std::string_view bytes, size_t at) {
  return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0;
}
std::uint32_t Little16(std::string_view b, size_t at) { return Byte(b, at) | Byte(b, at + 1) << 8; }
std::uint32_t Little32(std::string_view b, size_t at) {
  return Little16(b, at) | Little16(b, at + 2) << 16;
}

// A BMP holds its rows uncompressed (or states the size of its compressed
// data); all of them must be present.
bool BmpIsComplete(std::string_view b) {
  if (b.size() < 26) return false;
  const std::uint64_t offBits = Little32(b, 10);
  const std::uint32_t infoSize = Little32(b, 14);
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint32_t bitCount = 0;
  std::uint32_t compression = 0;
  if (infoSize == 12) {
    width = Little16(b, 18);
    height = Little16(b, 20);
    bitCount = Little16(b, 24);
  } else if (infoSize >= 40 && b.size() >= 38) {
    width = static_cast<std::int32_t>(Little32(b, 18));
    height = static_cast<std::int32_t>(Little32(b, 22));
    bitCount = Little16(b, 28);
    compression = Little32(b, 30);
  } else {
    return false;
  }
  constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
  if (compression == kRgb || compression == kBitFields || compression == kAlphaBitFields) {
    const std::uint64_t stride =
        (static_cast<std::uint64_t>(std::abs(width)) * bitCount + 31) / 32 * 4;
    return offBits + stride * static_cast<std::uint64_t>(std::abs(height)) <= b.size();
  }
  return offBits + Little32(b, 34) <= b.size();
}

// Sub-blocks end with an empty one, which must be present.
bool SkipSubBlocks(std::string_view b, size_t& at) {
  while (at < b.size()) {
    const std::uint32_t length = Byte(b, at);
    at += 1 + length;
    if (length == 0) return true;
  }
  return false;
}

// The first image of a GIF, with all its data blocks, must be present.
bool GifIsComplete(std::string_view b) {
  if (b.size() < 13) return false;
  size_t at = 13;
  if (Byte(b, 10) & 0x80) at += 3u << ((Byte(b, 10) & 7) + 1);
  while (at < b.size()) {
    const std::uint32_t introducer = Byte(b, at);
    if (introducer == 0x21) {
      at += 2;
      if (!SkipSubBlocks(b, at)) return false;
    } else if (introducer == 0x2c) {
      const std::uint32_t flags = Byte(b, at + 9);
      at += 10;
      if (flags & 0x80) at += 3u << ((flags & 7) + 1);
      at += 1;
      return SkipSubBlocks(b, at);
    } else {
      return false;
    }
  }
  return false;
}

// A JPEG must end its scans with the end-of-image marker. The segments
// before the first scan are stepped over, since a thumbnail inside one has
// markers of its own; after it, 0xFF is always escaped but in markers.
bool JpegIsComplete(std::string_view b) {
  size_t at = 2;
  while (at + 4 <= b.size()) {
    if (Byte(b, at) != 0xff) return false;
    const std::uint32_t marker = Byte(b, at + 1);
    if (marker == 0xff) {
      ++at;
    } else if (marker == 0x01 || marker == 0xd8 || (marker >= 0xd0 && marker <= 0xd7)) {
      at += 2;
    } else if (marker == 0xd9) {
      return false;
    } else {
      const std::uint32_t length = Byte(b, at + 2) << 8 | Byte(b, at + 3);
      if (length < 2) return false;
      if (marker == 0xda) return b.find("\xff\xd9", at + 2 + length) != std::string_view::npos;
      at += 2 + length;
    }
  }
  return false;
}

// Qt's readers return whatever part of a cut-off BMP, GIF or JPEG they got;
// the PNG and TIFF readers fail on their own.
bool IsComplete(const ByteSet& picture, std::string_view format) {
  const std::string_view bytes = ViewOf(picture);
  if (format == "bmp") return BmpIsComplete(bytes);
  if (format == "gif") return GifIsComplete(bytes);
  if (format == "jpeg") return JpegIsComplete(bytes);
  return true;
}

void LimitAllocations() {
  static std::once_flag once;
  std::call_once(once, [] {
    const int current = QImageReader::allocationLimit();
    if (current <= 0 || current > kAllocationLimitMb) {
      QImageReader::setAllocationLimit(kAllocationLimitMb);
    }
  });
}

QImage Decode(const ByteSet& picture, std::int64_t maxPixels) {
  const char* format = DetectFormat(picture);
  if (!format || !IsComplete(picture, format)) return {};
  QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(picture.data()),
                                            static_cast<qsizetype>(picture.size()));
  QBuffer buffer(&data);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  QImageReader reader(&buffer, format);
  reader.setAutoDetectImageFormat(false);
  if (!reader.canRead()) return {};
  // The header's size decides before any pixel is allocated.
  const QSize size = reader.size();
  if (!size.isValid() || size.isEmpty() ||
      static_cast<std::int64_t>(size.width()) * size.height() > maxPixels) {
    return {};
  }
  QImage image;
  if (!reader.read(&image) || image.isNull()) return {};
  if (static_cast<std::int64_t>(image.width()) * image.height() > maxPixels) return {};
  return image;
}

ByteSet EncodeWithQt(const QImage& image, const char* format) {
  QByteArray out;
  QBuffer buffer(&out);
  if (!buffer.open(QIODevice::WriteOnly)) return {};
  QImageWriter writer(&buffer, format);
  if (!writer.write(image)) return {};
  return ByteSet(out.begin(), out.end());
}

// Qt reads GIF but writes none: the shared encoder takes the pixels.
ByteSet EncodeAsGif(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) return {};
  std::vector<std::uint8_t> rgba;
  rgba.reserve(static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.height()) *
               4);
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      rgba.insert(
          rgba.end(),
          {static_cast<std::uint8_t>(qRed(line[x])), static_cast<std::uint8_t>(qGreen(line[x])),
           static_cast<std::uint8_t>(qBlue(line[x])), static_cast<std::uint8_t>(qAlpha(line[x]))});
    }
  }
  return EncodeGif(image.width(), image.height(), rgba);
}

}  // namespace

QtPictureCodec::QtPictureCodec(const PictureLimits& limits) : limits_(limits) {
  LimitAllocations();
}

ByteSet QtPictureCodec::Reencode(const ByteSet& picture, PictureFormat format) {
  const QImage image = Decode(picture, limits_.maxPixels);
  if (image.isNull()) return {};
  switch (format) {
    case PictureFormat::kBmp:
      return EncodeWithQt(image, "bmp");
    case PictureFormat::kJpeg:
      return EncodeWithQt(image, "jpeg");
    case PictureFormat::kGif:
      return EncodeAsGif(image);
    case PictureFormat::kTiff:
      return EncodeWithQt(image, "tiff");
    case PictureFormat::kPng:
      return EncodeWithQt(image, "png");
  }
  return {};
}

}  // namespace sorrel
