// Pictures decoded by GDI+ from memory, for the picture codec and the
// window's picture box alike. Callers keep a GdiplusSession open around
// every use.
#pragma once

#include "support/gdiplus_session.h"
#include "text/text.h"

namespace sorrel {

// A decoded picture, disposed with the object.
class GdiplusImage {
 public:
  GdiplusImage() = default;
  ~GdiplusImage() { Reset(); }
  GdiplusImage(const GdiplusImage&) = delete;
  GdiplusImage& operator=(const GdiplusImage&) = delete;
  Gdiplus::GpBitmap** out() {
    Reset();
    return &bitmap_;
  }
  Gdiplus::GpBitmap* get() const { return bitmap_; }
  void Reset() {
    if (bitmap_ != nullptr) Gdiplus::DllExports::GdipDisposeImage(bitmap_);
    bitmap_ = nullptr;
  }

 private:
  Gdiplus::GpBitmap* bitmap_ = nullptr;
};

// Decodes a picture file held in memory, through a stream over a copy of
// its bytes in global memory. False when it does not decode.
bool DecodeImage(const ByteSet& picture, GdiplusImage& image);

}  // namespace sorrel
