#include "support/gdiplus_image.h"

#include <climits>
#include <cstring>

namespace sorrel {

bool DecodeImage(const ByteSet& picture, GdiplusImage& image) {
  image.Reset();
  if (picture.empty() || picture.size() > ULONG_MAX) return false;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, picture.size());
  if (block == nullptr) return false;
  void* target = GlobalLock(block);
  if (target == nullptr) {
    GlobalFree(block);
    return false;
  }
  std::memcpy(target, picture.data(), picture.size());
  GlobalUnlock(block);
  // The stream owns the block from here and frees it with itself.
  IStream* stream = nullptr;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &stream)) || stream == nullptr) {
    GlobalFree(block);
    return false;
  }
  const bool decoded =
      Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, image.out()) == Gdiplus::Ok;
  stream->Release();
  return decoded && image.get() != nullptr;
}

}  // namespace sorrel
