#include "support/gif_encoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <vector>

namespace sorrel {

namespace {

int AppendToByteSet(GifFileType* gif, const GifByteType* bytes, int length) {
  auto* out = static_cast<ByteSet*>(gif->UserData);
  out->insert(out->end(), bytes, bytes + length);
  return length;
}

bool IsTransparent(const std::uint8_t* pixel) { return pixel[3] < 128; }

struct IndexedPicture {
  std::vector<GifColorType> palette;
  std::vector<GifByteType> pixels;
  int transparentIndex = NO_TRANSPARENT_COLOR;
};

// The opaque pixels' own colours, in the order they first appear; false when
// there are more than `slots`.
bool IndexExactly(std::span<const std::uint8_t> rgba, int slots, IndexedPicture& indexed) {
  std::unordered_map<std::uint32_t, int> exact;
  const std::size_t count = indexed.pixels.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = rgba.data() + i * 4;
    if (IsTransparent(p)) continue;
    const std::uint32_t rgb = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
    auto [it, added] = exact.try_emplace(rgb, static_cast<int>(exact.size()));
    if (added) {
      if (exact.size() > static_cast<std::size_t>(slots)) return false;
      indexed.palette.push_back(GifColorType{p[0], p[1], p[2]});
    }
    indexed.pixels[i] = static_cast<GifByteType>(it->second);
  }
  return true;
}

bool IndexByMedianCut(int width, int height, std::span<const std::uint8_t> rgba, int slots,
                      IndexedPicture& indexed) {
  const std::size_t count = indexed.pixels.size();
  std::vector<GifByteType> red(count), green(count), blue(count);
  for (std::size_t i = 0; i < count; ++i) {
    red[i] = rgba[i * 4];
    green[i] = rgba[i * 4 + 1];
    blue[i] = rgba[i * 4 + 2];
  }
  int size = slots;
  indexed.palette.assign(256, GifColorType{0, 0, 0});
  if (GifQuantizeBuffer(static_cast<unsigned>(width), static_cast<unsigned>(height), &size,
                        red.data(), green.data(), blue.data(), indexed.pixels.data(),
                        indexed.palette.data()) == GIF_ERROR) {
    return false;
  }
  indexed.palette.resize(static_cast<std::size_t>(std::clamp(size, 1, slots)));
  return true;
}

// Transparent pixels take one index after the colours, so that they leave
// 255 slots for those.
bool Index(int width, int height, std::span<const std::uint8_t> rgba, IndexedPicture& indexed) {
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  bool anyTransparent = false;
  for (std::size_t i = 0; i < count && !anyTransparent; ++i) {
    anyTransparent = IsTransparent(rgba.data() + i * 4);
  }
  const int slots = anyTransparent ? 255 : 256;
  indexed.pixels.assign(count, 0);
  if (!IndexExactly(rgba, slots, indexed)) {
    if (!IndexByMedianCut(width, height, rgba, slots, indexed)) return false;
  }
  if (anyTransparent) {
    indexed.transparentIndex = static_cast<int>(indexed.palette.size());
    indexed.palette.push_back(GifColorType{0, 0, 0});
    for (std::size_t i = 0; i < count; ++i) {
      if (IsTransparent(rgba.data() + i * 4)) {
        indexed.pixels[i] = static_cast<GifByteType>(indexed.transparentIndex);
      }
    }
  }
  if (indexed.palette.empty()) indexed.palette.push_back(GifColorType{0, 0, 0});
  return true;
}

}  // namespace

ByteSet EncodeGif(int width, int height, std::span<const std::uint8_t> rgba) {
  if (width <= 0 || height <= 0 || width > 0xffff || height > 0xffff ||
      rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
    return {};
  }
  IndexedPicture indexed;
  if (!Index(width, height, rgba, indexed)) return {};

  // A colour table holds a power of two entries, at least two.
  const int bits = std::max(1, GifBitSize(static_cast<int>(indexed.palette.size())));
  indexed.palette.resize(std::size_t{1} << bits, GifColorType{0, 0, 0});
  ColorMapObject* colours =
      GifMakeMapObject(static_cast<int>(indexed.palette.size()), indexed.palette.data());
  if (!colours) return {};

  ByteSet out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, AppendToByteSet, &error);
  if (!gif) {
    GifFreeMapObject(colours);
    return {};
  }
  const bool transparent = indexed.transparentIndex != NO_TRANSPARENT_COLOR;
  if (transparent) EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, width, height, bits, 0, colours) == GIF_OK;
  if (ok && transparent) {
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSAL_UNSPECIFIED;
    control.TransparentColor = indexed.transparentIndex;
    GifByteType extension[4];
    const size_t length = EGifGCBToExtension(&control, extension);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
         GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < height; ++y) {
    ok = EGifPutLine(gif, indexed.pixels.data() + static_cast<std::size_t>(y) * width, width) ==
         GIF_OK;
  }
  if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  GifFreeMapObject(colours);
  return ok ? out : ByteSet();
}

}  // namespace sorrel
