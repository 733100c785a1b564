#include "support/picture_raster.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <string_view>

#include "support/gif_encoder.h"

namespace sorrel {

namespace {

bool StartsWith(const ByteSet& bytes, std::string_view magic) {
  return ViewOf(bytes).substr(0, magic.size()) == magic;
}

bool SizeAllowed(std::int64_t width, std::int64_t height, std::int64_t maxPixels) {
  return width > 0 && height > 0 && width <= 0xffff && height <= 0xffff &&
         width * height <= maxPixels;
}

RasterImage DecodePng(const ByteSet& picture, std::int64_t maxPixels) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, picture.data(), picture.size())) return {};
  if (!SizeAllowed(image.width, image.height, maxPixels)) {
    png_image_free(&image);
    return {};
  }
  image.format = PNG_FORMAT_RGBA;
  RasterImage raster{static_cast<int>(image.width), static_cast<int>(image.height), {}};
  raster.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, raster.rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  return raster;
}

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegFail(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// A warning (a cut-off file among them) makes the picture unusable, as an
// error does; nothing is printed.
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0) JpegFail(info);
}

RasterImage DecodeJpeg(const ByteSet& picture, std::int64_t maxPixels) {
  jpeg_decompress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFail;
  error.manager.emit_message = JpegMessage;
  RasterImage raster;
  std::vector<std::uint8_t> row;
  if (setjmp(error.jump)) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, picture.data(), static_cast<unsigned long>(picture.size()));
  jpeg_read_header(&info, TRUE);
  if (!SizeAllowed(info.image_width, info.image_height, maxPixels)) {
    jpeg_destroy_decompress(&info);
    return {};
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  raster.width = static_cast<int>(info.output_width);
  raster.height = static_cast<int>(info.output_height);
  raster.rgba.resize(static_cast<size_t>(raster.width) * raster.height * 4);
  row.resize(static_cast<size_t>(raster.width) * 3);
  while (info.output_scanline < info.output_height) {
    const size_t y = info.output_scanline;
    JSAMPROW rows[] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
    std::uint8_t* out = raster.rgba.data() + y * raster.width * 4;
    for (int x = 0; x < raster.width; ++x) {
      std::memcpy(out + x * 4, row.data() + x * 3, 3);
      out[x * 4 + 3] = 0xff;
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return raster;
}

struct MemoryReader {
  const ByteSet* bytes;
  size_t at = 0;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int length) {
  auto* reader = static_cast<MemoryReader*>(gif->UserData);
  const size_t count = std::min(static_cast<size_t>(length), reader->bytes->size() - reader->at);
  std::memcpy(buffer, reader->bytes->data() + reader->at, count);
  reader->at += count;
  return static_cast<int>(count);
}

// Reads records up to the first image, whose size is checked against the
// screen before any pixel is read.
RasterImage ReadFirstGifImage(GifFileType* gif, std::int64_t maxPixels) {
  if (!SizeAllowed(gif->SWidth, gif->SHeight, maxPixels)) return {};
  int transparent = NO_TRANSPARENT_COLOR;
  GifRecordType record;
  do {
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) return {};
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return {};
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
        GraphicsControlBlock control{};
        if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
          transparent = control.TransparentColor;
        }
      }
      while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return {};
      }
    }
  } while (record != IMAGE_DESC_RECORD_TYPE && record != TERMINATE_RECORD_TYPE);
  if (record != IMAGE_DESC_RECORD_TYPE || DGifGetImageDesc(gif) == GIF_ERROR) return {};

  const GifImageDesc& d = gif->Image;
  const ColorMapObject* colours = d.ColorMap ? d.ColorMap : gif->SColorMap;
  if (!colours || d.Left < 0 || d.Top < 0 || d.Width <= 0 || d.Height <= 0 ||
      d.Left + d.Width > gif->SWidth || d.Top + d.Height > gif->SHeight) {
    return {};
  }
  RasterImage raster{gif->SWidth, gif->SHeight, {}};
  raster.rgba.assign(static_cast<size_t>(raster.width) * raster.height * 4, 0);
  std::vector<GifPixelType> line(static_cast<size_t>(d.Width));
  // Interlaced images send every eighth row first, then the rows between.
  constexpr int kPassStart[] = {0, 4, 2, 1};
  constexpr int kPassStep[] = {8, 8, 4, 2};
  const int passes = d.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int first = d.Interlace ? kPassStart[pass] : 0;
    const int step = d.Interlace ? kPassStep[pass] : 1;
    for (int y = first; y < d.Height; y += step) {
      if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return {};
      std::uint8_t* out =
          raster.rgba.data() + (static_cast<size_t>(d.Top + y) * raster.width + d.Left) * 4;
      for (int x = 0; x < d.Width; ++x, out += 4) {
        const int index = line[static_cast<size_t>(x)];
        if (index == transparent || index >= colours->ColorCount) continue;
        const GifColorType& c = colours->Colors[index];
        out[0] = c.Red;
        out[1] = c.Green;
        out[2] = c.Blue;
        out[3] = 0xff;
      }
    }
  }
  return raster;
}

RasterImage DecodeGif(const ByteSet& picture, std::int64_t maxPixels) {
  MemoryReader reader{&picture};
  int error = 0;
  GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
  if (!gif) return {};
  RasterImage raster = ReadFirstGifImage(gif, maxPixels);
  DGifCloseFile(gif, &error);
  return raster;
}

std::uint32_t Little(const ByteSet& b, size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = value << 8 | (at + i < b.size() ? b[at + i] : 0);
  }
  return value;
}

// Uncompressed 24- and 32-bit BMP, the form pictures are sent in.
RasterImage DecodeBmp(const ByteSet& b, std::int64_t maxPixels) {
  if (b.size() < 54 || Little(b, 14, 4) < 40 || Little(b, 30, 4) != 0) return {};
  const std::int64_t width = static_cast<std::int32_t>(Little(b, 18, 4));
  const std::int64_t signedHeight = static_cast<std::int32_t>(Little(b, 22, 4));
  const std::int64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
  const std::uint32_t bits = Little(b, 28, 2);
  if ((bits != 24 && bits != 32) || !SizeAllowed(width, height, maxPixels)) return {};
  const std::uint64_t stride = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
  const std::uint64_t offset = Little(b, 10, 4);
  if (offset + stride * static_cast<std::uint64_t>(height) > b.size()) return {};
  RasterImage raster{static_cast<int>(width), static_cast<int>(height), {}};
  raster.rgba.resize(static_cast<size_t>(width * height * 4));
  for (std::int64_t y = 0; y < height; ++y) {
    const std::int64_t row = signedHeight < 0 ? y : height - 1 - y;
    const std::uint8_t* in = b.data() + offset + stride * static_cast<std::uint64_t>(row);
    std::uint8_t* out = raster.rgba.data() + y * width * 4;
    for (std::int64_t x = 0; x < width; ++x) {
      const std::uint8_t* pixel = in + x * (bits / 8);
      out[x * 4] = pixel[2];
      out[x * 4 + 1] = pixel[1];
      out[x * 4 + 2] = pixel[0];
      out[x * 4 + 3] = 0xff;
    }
  }
  return raster;
}

// Transparent pixels are laid on white: the encoders below write no alpha.
std::vector<std::uint8_t> OnWhite(const RasterImage& raster) {
  std::vector<std::uint8_t> rgb(static_cast<size_t>(raster.width) * raster.height * 3);
  for (size_t i = 0, n = rgb.size() / 3; i < n; ++i) {
    const std::uint8_t* p = raster.rgba.data() + i * 4;
    for (int c = 0; c < 3; ++c)
      rgb[i * 3 + c] = static_cast<std::uint8_t>((p[c] * p[3] + 255 * (255 - p[3])) / 255);
  }
  return rgb;
}

// Laid on white like every other format this codec writes but PNG, so that
// its GIF has no transparent colour.
ByteSet EncodeGifOnWhite(const RasterImage& raster) {
  const std::vector<std::uint8_t> rgb = OnWhite(raster);
  std::vector<std::uint8_t> rgba;
  rgba.reserve(rgb.size() / 3 * 4);
  for (size_t i = 0; i < rgb.size(); i += 3) {
    rgba.insert(rgba.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 0xff});
  }
  return EncodeGif(raster.width, raster.height, rgba);
}

ByteSet EncodePng(const RasterImage& raster) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(raster.width);
  image.height = static_cast<png_uint_32>(raster.height);
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, raster.rgba.data(), 0, nullptr)) {
    return {};
  }
  ByteSet out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, raster.rgba.data(), 0, nullptr)) {
    return {};
  }
  out.resize(size);
  return out;
}

ByteSet EncodeJpeg(const RasterImage& raster) {
  std::vector<std::uint8_t> rgb = OnWhite(raster);
  jpeg_compress_struct info{};
  JpegError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegFail;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  if (setjmp(error.jump)) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return {};
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(raster.width);
  info.image_height = static_cast<JDIMENSION>(raster.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[] = {rgb.data() + static_cast<size_t>(info.next_scanline) * raster.width * 3};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  ByteSet out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

void PutLittle(ByteSet& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

ByteSet EncodeBmp(const RasterImage& raster) {
  const std::vector<std::uint8_t> rgb = OnWhite(raster);
  const std::uint32_t stride = (static_cast<std::uint32_t>(raster.width) * 3 + 3) / 4 * 4;
  const std::uint32_t data = stride * static_cast<std::uint32_t>(raster.height);
  ByteSet out{'B', 'M'};
  PutLittle(out, 54 + data, 4);
  PutLittle(out, 0, 4);
  PutLittle(out, 54, 4);
  PutLittle(out, 40, 4);
  PutLittle(out, static_cast<std::uint32_t>(raster.width), 4);
  PutLittle(out, static_cast<std::uint32_t>(raster.height), 4);
  PutLittle(out, 1, 2);
  PutLittle(out, 24, 2);
  PutLittle(out, 0, 4);
  PutLittle(out, data, 4);
  PutLittle(out, 2835, 4);
  PutLittle(out, 2835, 4);
  PutLittle(out, 0, 4);  // colours used
  PutLittle(out, 0, 4);  // colours important
  for (int y = raster.height - 1; y >= 0; --y) {
    const std::uint8_t* row = rgb.data() + static_cast<size_t>(y) * raster.width * 3;
    for (int x = 0; x < raster.width; ++x) {
      out.push_back(row[x * 3 + 2]);
      out.push_back(row[x * 3 + 1]);
      out.push_back(row[x * 3]);
    }
    out.resize(out.size() + (stride - static_cast<std::uint32_t>(raster.width) * 3), 0);
  }
  return out;
}

}  // namespace

RasterImage DecodeRaster(const ByteSet& picture, std::int64_t maxPixels) {
  if (StartsWith(picture, "\x89PNG\r\n\x1a\n")) return DecodePng(picture, maxPixels);
  if (StartsWith(picture, "\xff\xd8\xff")) return DecodeJpeg(picture, maxPixels);
  if (StartsWith(picture, "GIF87a") || StartsWith(picture, "GIF89a")) {
    return DecodeGif(picture, maxPixels);
  }
  if (StartsWith(picture, "BM")) return DecodeBmp(picture, maxPixels);
  return {};
}

ByteSet RasterPictureCodec::Reencode(const ByteSet& picture, PictureFormat format) {
  const RasterImage raster = DecodeRaster(picture);
  if (raster.empty()) return {};
  switch (format) {
    case PictureFormat::kBmp:
      return EncodeBmp(raster);
    case PictureFormat::kJpeg:
      return EncodeJpeg(raster);
    case PictureFormat::kGif:
      return EncodeGifOnWhite(raster);
    case PictureFormat::kPng:
      return EncodePng(raster);
    case PictureFormat::kTiff:
      return {};
  }
  return {};
}

}  // namespace sorrel
