// For the Windows window, which imports no DLL beyond the system's core set
// (the system's Base64 lives in crypt32): the workflow's own decoder over
// the groups already checked, and the few lines of the encoder.
#include "resolve/base64.h"
#include "resolve/base64_standard.h"

namespace sorrel {

std::string OwnBase64::Encode(std::string_view bytes) const {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t at = 0; at < bytes.size(); at += 3) {
    const size_t left = bytes.size() - at;
    unsigned group = static_cast<unsigned char>(bytes[at]) << 16;
    if (left > 1) group |= static_cast<unsigned char>(bytes[at + 1]) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[at + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::optional<std::string> OwnBase64::DecodeCheckedGroups(std::string_view padded,
                                                          size_t padding) const {
  Text text(padded);
  const ByteSet bytes = Base64Decode(text);
  if (bytes.size() != padded.size() / 4 * 3 - padding) return std::nullopt;
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace sorrel
