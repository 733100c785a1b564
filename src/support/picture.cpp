#include "support/picture.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "text/codepage.h"

namespace sorrel {

namespace {

// The name is code page 936 text; the file system takes it as Unicode.
void WriteFile(const Text& fileName, const ByteSet& bytes) {
  const std::string utf8 = Utf8FromGbk(fileName);
  const std::filesystem::path path(std::u8string(utf8.begin(), utf8.end()));
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return;
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
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
