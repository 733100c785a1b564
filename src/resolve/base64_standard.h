// Standard Base64 (RFC 4648, section 4 alphabet) over the platform's own
// library: the decoding of links that people paste, not the login answer's
// decoder with its own rules. Each front end picks one engine and hands it
// to the program with its other platform engines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorrel {

class Base64Engine {
 public:
  virtual ~Base64Engine() = default;
  // Padded with "=".
  virtual std::string Encode(std::string_view bytes) const = 0;
  // The platform's decoder over whole, checked groups of four, the last one
  // padded; `padding` is the number of "=" in it.
  virtual std::optional<std::string> DecodeCheckedGroups(std::string_view padded,
                                                         size_t padding) const = 0;
};

// The workflow's own decoder and a few lines of encoder: no library at all.
class OwnBase64 final : public Base64Engine {
 public:
  std::string Encode(std::string_view bytes) const override;
  std::optional<std::string> DecodeCheckedGroups(std::string_view padded,
                                                 size_t padding) const override;
};

// OpenSSL's libcrypto.
class OpenSslBase64 final : public Base64Engine {
 public:
  std::string Encode(std::string_view bytes) const override;
  std::optional<std::string> DecodeCheckedGroups(std::string_view padded,
                                                 size_t padding) const override;
};

// Qt's, for a program that has loaded Qt anyway.
class QtBase64 final : public Base64Engine {
 public:
  std::string Encode(std::string_view bytes) const override;
  std::optional<std::string> DecodeCheckedGroups(std::string_view padded,
                                                 size_t padding) const override;
};

// The system's CryptoAPI on Windows.
class Win32Base64 final : public Base64Engine {
 public:
  std::string Encode(std::string_view bytes) const override;
  std::optional<std::string> DecodeCheckedGroups(std::string_view padded,
                                                 size_t padding) const override;
};

// Padded with "=".
std::string EncodeStandardBase64(const Base64Engine& engine, std::string_view bytes);
// Alphabet characters only, then the "=" padding, which may be missing.
// Nothing when anything else appears or the length cannot be that of Base64.
std::optional<std::string> DecodeStandardBase64(const Base64Engine& engine, std::string_view text);

}  // namespace sorrel
