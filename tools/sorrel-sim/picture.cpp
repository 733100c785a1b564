#include "picture.h"

#include <gif_lib.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace sorrel::sim {
namespace {

void PutBe32(std::string& out, std::uint32_t v) {
  out += static_cast<char>((v >> 24) & 0xFF);
  out += static_cast<char>((v >> 16) & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
  out += static_cast<char>(v & 0xFF);
}

void PutLe16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void PutLe32(std::string& out, std::uint32_t v) {
  PutLe16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  PutLe16(out, static_cast<std::uint16_t>(v >> 16));
}

void SetBe32(std::string& s, size_t at, std::uint32_t v) {
  s[at] = static_cast<char>((v >> 24) & 0xFF);
  s[at + 1] = static_cast<char>((v >> 16) & 0xFF);
  s[at + 2] = static_cast<char>((v >> 8) & 0xFF);
  s[at + 3] = static_cast<char>(v & 0xFF);
}

void SetBe16(std::string& s, size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v >> 8);
  s[at + 1] = static_cast<char>(v & 0xFF);
}

void SetLe16(std::string& s, size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

void SetLe32(std::string& s, size_t at, std::uint32_t v) {
  SetLe16(s, at, static_cast<std::uint16_t>(v & 0xFFFF));
  SetLe16(s, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// PNG chunk: length, type, data, CRC over type and data.
void PutPngChunk(std::string& out, const char* type, std::string_view data) {
  PutBe32(out, static_cast<std::uint32_t>(data.size()));
  const size_t crcStart = out.size();
  out.append(type, 4);
  out.append(data);
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(out.data() + crcStart),
                         static_cast<uInt>(out.size() - crcStart));
  PutBe32(out, static_cast<std::uint32_t>(crc));
}

std::string EncodePng(const Raster& r) {
  std::string out("\x89PNG\r\n\x1a\n", 8);
  std::string ihdr;
  PutBe32(ihdr, static_cast<std::uint32_t>(r.width));
  PutBe32(ihdr, static_cast<std::uint32_t>(r.height));
  ihdr += '\x08';  // bit depth
  ihdr += '\x03';  // indexed colour
  ihdr.append(3, '\0');
  PutPngChunk(out, "IHDR", ihdr);

  std::string plte;
  for (const Rgb& c : r.palette) {
    plte += static_cast<char>(c.r);
    plte += static_cast<char>(c.g);
    plte += static_cast<char>(c.b);
  }
  PutPngChunk(out, "PLTE", plte);

  std::string raw;
  raw.reserve(static_cast<size_t>(r.height) * static_cast<size_t>(r.width + 1));
  for (int y = 0; y < r.height; ++y) {
    raw += '\0';  // filter type None
    raw.append(reinterpret_cast<const char*>(&r.pixels[static_cast<size_t>(y * r.width)]),
               static_cast<size_t>(r.width));
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  packed.resize(packedSize);
  PutPngChunk(out, "IDAT", packed);
  PutPngChunk(out, "IEND", {});
  return out;
}

std::string EncodeBmp(const Raster& r) {
  const std::uint32_t rowSize = (static_cast<std::uint32_t>(r.width) * 3 + 3) & ~3u;
  const std::uint32_t imageSize = rowSize * static_cast<std::uint32_t>(r.height);
  std::string out;
  out += "BM";
  PutLe32(out, 54 + imageSize);
  PutLe32(out, 0);
  PutLe32(out, 54);
  PutLe32(out, 40);  // BITMAPINFOHEADER
  PutLe32(out, static_cast<std::uint32_t>(r.width));
  PutLe32(out, static_cast<std::uint32_t>(r.height));  // positive: bottom-up rows
  PutLe16(out, 1);
  PutLe16(out, 24);
  PutLe32(out, 0);  // BI_RGB
  PutLe32(out, imageSize);
  PutLe32(out, 2835);  // 72 dpi
  PutLe32(out, 2835);
  PutLe32(out, 0);
  PutLe32(out, 0);
  for (int y = r.height - 1; y >= 0; --y) {
    const size_t rowStart = out.size();
    for (int x = 0; x < r.width; ++x) {
      const Rgb& c = r.palette[r.At(x, y)];
      out += static_cast<char>(c.b);
      out += static_cast<char>(c.g);
      out += static_cast<char>(c.r);
    }
    out.append(rowStart + rowSize - out.size(), '\0');
  }
  return out;
}

int GifWrite(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<std::string*>(gif->UserData)
      ->append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  return length;
}

std::string EncodeGif(const Raster& r) {
  std::string out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, GifWrite, &error);
  if (!gif) return {};
  int bits = 1;
  while ((1 << bits) < static_cast<int>(r.palette.size())) ++bits;
  std::vector<GifColorType> colours(static_cast<size_t>(1) << bits, GifColorType{0, 0, 0});
  for (size_t i = 0; i < r.palette.size(); ++i) {
    colours[i] = GifColorType{r.palette[i].r, r.palette[i].g, r.palette[i].b};
  }
  ColorMapObject* map = GifMakeMapObject(1 << bits, colours.data());
  bool ok = map && EGifPutScreenDesc(gif, r.width, r.height, bits, 0, map) == GIF_OK &&
            EGifPutImageDesc(gif, 0, 0, r.width, r.height, false, nullptr) == GIF_OK;
  std::vector<GifPixelType> line(static_cast<size_t>(r.width));
  for (int y = 0; ok && y < r.height; ++y) {
    std::memcpy(line.data(), &r.pixels[static_cast<size_t>(y * r.width)], line.size());
    ok = EGifPutLine(gif, line.data(), r.width) == GIF_OK;
  }
  if (map) GifFreeMapObject(map);
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  return ok ? out : std::string();
}

std::string EncodeJpeg(const Raster& r) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(r.width);
  cinfo.image_height = static_cast<JDIMENSION>(r.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(r.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < r.width; ++x) {
      const Rgb& c = r.palette[r.At(x, y)];
      row[static_cast<size_t>(x) * 3] = c.r;
      row[static_cast<size_t>(x) * 3 + 1] = c.g;
      row[static_cast<size_t>(x) * 3 + 2] = c.b;
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return out;
}

}  // namespace

std::optional<PictureFormat> ParsePictureFormat(std::string_view name) {
  if (name == "png") return PictureFormat::kPng;
  if (name == "jpeg" || name == "jpg") return PictureFormat::kJpeg;
  if (name == "gif") return PictureFormat::kGif;
  if (name == "bmp") return PictureFormat::kBmp;
  return std::nullopt;
}

const char* PictureFormatName(PictureFormat format) {
  switch (format) {
    case PictureFormat::kPng:
      return "png";
    case PictureFormat::kJpeg:
      return "jpeg";
    case PictureFormat::kGif:
      return "gif";
    case PictureFormat::kBmp:
      return "bmp";
  }
  return "png";
}

const char* PictureMimeType(PictureFormat format) {
  switch (format) {
    case PictureFormat::kPng:
      return "image/png";
    case PictureFormat::kJpeg:
      return "image/jpeg";
    case PictureFormat::kGif:
      return "image/gif";
    case PictureFormat::kBmp:
      return "image/bmp";
  }
  return "application/octet-stream";
}

std::string EncodePicture(const Raster& raster, PictureFormat format) {
  switch (format) {
    case PictureFormat::kPng:
      return EncodePng(raster);
    case PictureFormat::kJpeg:
      return EncodeJpeg(raster);
    case PictureFormat::kGif:
      return EncodeGif(raster);
    case PictureFormat::kBmp:
      return EncodeBmp(raster);
  }
  return {};
}

std::string ClaimPictureSize(std::string picture, PictureFormat format, std::uint16_t width,
                             std::uint16_t height) {
  switch (format) {
    case PictureFormat::kPng:
      if (picture.size() >= 33) {
        SetBe32(picture, 16, width);
        SetBe32(picture, 20, height);
        const auto crc = crc32(0, reinterpret_cast<const Bytef*>(picture.data() + 12), 17);
        SetBe32(picture, 29, static_cast<std::uint32_t>(crc));
      }
      break;
    case PictureFormat::kBmp:
      if (picture.size() >= 26) {
        SetLe32(picture, 18, width);
        SetLe32(picture, 22, height);
      }
      break;
    case PictureFormat::kGif:
      if (picture.size() >= 13) {
        SetLe16(picture, 6, width);
        SetLe16(picture, 8, height);
        const auto flags = static_cast<unsigned char>(picture[10]);
        size_t at = 13;
        if (flags & 0x80) at += 3u * (2u << (flags & 7));
        // Skip extension blocks up to the image descriptor.
        while (at < picture.size() && picture[at] == 0x21 && at + 2 < picture.size()) {
          at += 2;
          while (at < picture.size() && picture[at] != 0) {
            at += 1 + static_cast<unsigned char>(picture[at]);
          }
          ++at;
        }
        if (at + 9 <= picture.size() && picture[at] == 0x2C) {
          SetLe16(picture, at + 5, width);
          SetLe16(picture, at + 7, height);
        }
      }
      break;
    case PictureFormat::kJpeg:
      // Walk the marker segments up to the first start-of-frame.
      for (size_t at = 2; at + 9 <= picture.size();) {
        if (static_cast<unsigned char>(picture[at]) != 0xFF) break;
        const auto marker = static_cast<unsigned char>(picture[at + 1]);
        const size_t length = (static_cast<unsigned char>(picture[at + 2]) << 8) |
                              static_cast<unsigned char>(picture[at + 3]);
        if (marker >= 0xC0 && marker <= 0xC3) {
          SetBe16(picture, at + 5, height);
          SetBe16(picture, at + 7, width);
          break;
        }
        at += 2 + length;
      }
      break;
  }
  return picture;
}

}  // namespace sorrel::sim
