#include "support/picture_gdiplus.h"

// In this order: GDI+ needs IStream, and both need the base Windows headers.
#include <windows.h>

#include <objidl.h>

#include <gdiplus.h>

#include <climits>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/gdiplus_image.h"
#include "text/codepage.h"

namespace sorrel {

namespace gp = Gdiplus::DllExports;

namespace {

// Class identifiers of the imaging library's encoders, by format code.
const char* EncoderText(PictureFormat format) {
  switch (format) {
    case PictureFormat::kBmp:
      return "{557CF400-1A04-11D3-9A73-0000F81EF32E}";
    case PictureFormat::kJpeg:
      return "{557CF401-1A04-11D3-9A73-0000F81EF32E}";
    case PictureFormat::kGif:
      return "{557CF402-1A04-11D3-9A73-0000F81EF32E}";
    case PictureFormat::kTiff:
      return "{557CF405-1A04-11D3-9A73-0000F81EF32E}";
    case PictureFormat::kPng:
      return "{557CF406-1A04-11D3-9A73-0000F81EF32E}";
  }
  return "";
}

// Parsed from its text at every call; all zero when the text does not parse.
CLSID EncoderId(PictureFormat format) {
  CLSID id{};
  const std::u16string wide = DecodeCodePage(std::string(EncoderText(format)) + '\0', kCodePageGbk);
  if (!wide.empty()) CLSIDFromString(reinterpret_cast<LPCOLESTR>(wide.c_str()), &id);
  return id;
}

class StreamRef {
 public:
  explicit StreamRef(IStream* stream) : stream_(stream) {}
  ~StreamRef() {
    if (stream_ != nullptr) stream_->Release();
  }
  StreamRef(const StreamRef&) = delete;
  StreamRef& operator=(const StreamRef&) = delete;
  IStream* get() const { return stream_; }

 private:
  IStream* stream_;
};

// The bytes written to `stream`: its block's content, as long as the stream
// says it is (the block itself may be rounded up).
ByteSet ContentOf(IStream* stream) {
  HGLOBAL block = nullptr;
  if (FAILED(GetHGlobalFromStream(stream, &block)) || block == nullptr) return {};
  STATSTG status{};
  std::size_t size = GlobalSize(block);
  if (SUCCEEDED(stream->Stat(&status, STATFLAG_NONAME)) && status.cbSize.QuadPart < size) {
    size = static_cast<std::size_t>(status.cbSize.QuadPart);
  }
  ByteSet bytes;
  if (const auto* source = static_cast<const std::uint8_t*>(GlobalLock(block))) {
    bytes.assign(source, source + size);
    GlobalUnlock(block);
  }
  return bytes;
}

// The picture as 8-bit indexes into a palette of at most 256 colours.
struct IndexedPicture {
  int width = 0;
  int height = 0;
  int stride = 0;
  std::vector<std::uint8_t> indexes;
  std::vector<Gdiplus::ARGB> palette;
};

// Opaque colour of a 32-bit ARGB pixel; transparent parts become white.
std::uint32_t OpaqueColour(std::uint32_t argb) {
  const std::uint32_t alpha = argb >> 24;
  if (alpha == 255) return argb;
  auto blend = [alpha](std::uint32_t channel) {
    return (channel * alpha + 255 * (255 - alpha)) / 255;
  };
  return 0xFF000000u | blend((argb >> 16) & 0xFF) << 16 | blend((argb >> 8) & 0xFF) << 8 |
         blend(argb & 0xFF);
}

std::uint8_t CubeIndex(std::uint32_t rgb) {
  auto level = [](std::uint32_t channel) { return (channel * 5 + 127) / 255; };
  return static_cast<std::uint8_t>(level((rgb >> 16) & 0xFF) * 36 + level((rgb >> 8) & 0xFF) * 6 +
                                   level(rgb & 0xFF));
}

bool IndexPicture(Gdiplus::GpBitmap* bitmap, int width, int height, IndexedPicture& out) {
  Gdiplus::GpRect area(0, 0, width, height);
  Gdiplus::BitmapData data{};
  if (gp::GdipBitmapLockBits(bitmap, &area, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                             &data) != Gdiplus::Ok) {
    return false;
  }
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const auto* row =
        static_cast<const std::uint8_t*>(data.Scan0) + std::ptrdiff_t{y} * data.Stride;
    for (int x = 0; x < width; ++x) {
      std::uint32_t argb;
      std::memcpy(&argb, row + std::size_t{4} * x, 4);
      pixels[static_cast<std::size_t>(y) * width + x] = OpaqueColour(argb);
    }
  }
  gp::GdipBitmapUnlockBits(bitmap, &data);

  out.width = width;
  out.height = height;
  out.stride = (width + 3) & ~3;
  out.indexes.assign(static_cast<std::size_t>(out.stride) * height, 0);
  std::unordered_map<std::uint32_t, std::uint8_t> own;
  for (const std::uint32_t colour : pixels) {
    if (own.size() > 256) break;
    if (own.emplace(colour, static_cast<std::uint8_t>(own.size())).second) {
      out.palette.push_back(colour);
    }
  }
  const bool cube = own.size() > 256;
  if (cube) {
    out.palette.clear();
    for (std::uint32_t i = 0; i < 216; ++i) {
      out.palette.push_back(0xFF000000u | (i / 36 * 51) << 16 | (i / 6 % 6 * 51) << 8 |
                            (i % 6 * 51));
    }
  }
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t colour = pixels[static_cast<std::size_t>(y) * width + x];
      out.indexes[static_cast<std::size_t>(y) * out.stride + x] =
          cube ? CubeIndex(colour) : own[colour];
    }
  }
  return true;
}

// Encodes `indexed` through an 8-bit indexed GDI+ bitmap.
bool SaveIndexed(IndexedPicture& indexed, IStream* output, const CLSID& encoder) {
  GdiplusImage bitmap;
  if (gp::GdipCreateBitmapFromScan0(indexed.width, indexed.height, indexed.stride,
                                    PixelFormat8bppIndexed, indexed.indexes.data(),
                                    bitmap.out()) != Gdiplus::Ok) {
    return false;
  }
  std::vector<std::uint8_t> storage(sizeof(Gdiplus::ColorPalette) +
                                    sizeof(Gdiplus::ARGB) * indexed.palette.size());
  auto* palette = reinterpret_cast<Gdiplus::ColorPalette*>(storage.data());
  palette->Flags = 0;
  palette->Count = static_cast<UINT>(indexed.palette.size());
  std::memcpy(palette->Entries, indexed.palette.data(),
              sizeof(Gdiplus::ARGB) * indexed.palette.size());
  if (gp::GdipSetImagePalette(bitmap.get(), palette) != Gdiplus::Ok) return false;
  return gp::GdipSaveImageToStream(bitmap.get(), output, &encoder, nullptr) == Gdiplus::Ok;
}

}  // namespace

GdiplusPictureCodec::GdiplusPictureCodec(const PictureLimits& limits) : limits_(limits) {}

ByteSet GdiplusPictureCodec::Reencode(const ByteSet& picture, PictureFormat format) {
  if (picture.empty() || picture.size() > ULONG_MAX) return {};
  GdiplusSession session;
  if (!session.started()) return {};
  const CLSID encoder = EncoderId(format);

  GdiplusImage image;
  if (!DecodeImage(picture, image)) return {};
  UINT width = 0;
  UINT height = 0;
  gp::GdipGetImageWidth(image.get(), &width);
  gp::GdipGetImageHeight(image.get(), &height);
  if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX ||
      std::int64_t{width} * height > limits_.maxPixels) {
    return {};
  }

  IStream* created = nullptr;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &created)) || created == nullptr) return {};
  StreamRef output(created);
  bool saved = false;
  if (format == PictureFormat::kGif) {
    IndexedPicture indexed;
    saved = IndexPicture(image.get(), static_cast<int>(width), static_cast<int>(height), indexed) &&
            SaveIndexed(indexed, output.get(), encoder);
  } else {
    saved = gp::GdipSaveImageToStream(image.get(), output.get(), &encoder, nullptr) == Gdiplus::Ok;
  }
  if (!saved) return {};
  return ContentOf(output.get());
}

}  // namespace sorrel
