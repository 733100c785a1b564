// Paletted pixel buffers and their encoding as PNG, JPEG, GIF or BMP files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sorrel::sim {

struct Rgb {
  std::uint8_t r, g, b;
};

// One palette index per pixel, rows top to bottom. At most 256 colours.
struct Raster {
  int width = 0;
  int height = 0;
  std::vector<Rgb> palette;
  std::vector<std::uint8_t> pixels;

  Raster(int w, int h, std::vector<Rgb> colours)
      : width(w),
        height(h),
        palette(std::move(colours)),
        pixels(static_cast<size_t>(w) * static_cast<size_t>(h), 0) {}
  void Set(int x, int y, std::uint8_t index) {
    if (x >= 0 && y >= 0 && x < width && y < height) {
      pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)] = index;
    }
  }
  std::uint8_t At(int x, int y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

enum class PictureFormat { kPng, kJpeg, kGif, kBmp };

std::optional<PictureFormat> ParsePictureFormat(std::string_view name);
const char* PictureFormatName(PictureFormat format);
const char* PictureMimeType(PictureFormat format);

// The complete file. Empty only when the encoder library fails.
std::string EncodePicture(const Raster& raster, PictureFormat format);

// Rewrites the width and height fields of an encoded picture, so that its
// header claims a size that its data does not hold. PNG's header checksum
// is recomputed so that a decoder gets as far as the size.
std::string ClaimPictureSize(std::string picture, PictureFormat format, std::uint16_t width,
                             std::uint16_t height);

}  // namespace sorrel::sim
