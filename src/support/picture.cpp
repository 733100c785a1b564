#include "support/picture.h"

#include <cstdio>
#include <string>
#include <utility>

#include "support/file_open.h"

namespace sorrel {

namespace {

// C stdio rather than streams: the Windows program links its runtime
// statically, and streams would bring the whole locale machinery with them.
void WriteFile(const Text& fileName, const ByteSet& bytes) {
  std::FILE* file = OpenFileForWriting(fileName);
  if (!file) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

}  // namespace

bool ConvertPicture(PictureCodec& codec, const ByteSet& picture, int format, const Text& fileName,
                    ByteSet* converted) {
  if (format < 1 || format > 5 || picture.empty()) return false;
  ByteSet bytes;
  try {
    bytes = codec.Reencode(picture, static_cast<PictureFormat>(format));
  } catch (...) {
    return false;
  }
  if (bytes.empty()) return false;
  if (!TrimSpaces(fileName).empty()) {
    try {
      WriteFile(fileName, bytes);
    } catch (...) {
      // The write is a side effect; its failure does not change the result.
    }
  }
  if (converted) *converted = std::move(bytes);
  return true;
}

}  // namespace sorrel
