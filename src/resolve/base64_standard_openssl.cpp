#include <openssl/evp.h>

#include "resolve/base64_standard.h"

namespace sorrel {

std::string OpenSslBase64::Encode(std::string_view bytes) const {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
  out.resize(written < 0 ? 0 : static_cast<size_t>(written));
  return out;
}

std::optional<std::string> OpenSslBase64::DecodeCheckedGroups(std::string_view padded,
                                                              size_t padding) const {
  std::string out(padded.size() / 4 * 3, '\0');
  const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(padded.data()),
                                      static_cast<int>(padded.size()));
  if (written < 0 || static_cast<size_t>(written) != out.size()) return std::nullopt;
  // EVP_DecodeBlock counts the "=" positions as zero bytes.
  out.resize(out.size() - padding);
  return out;
}

}  // namespace sorrel
