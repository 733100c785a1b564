// Standard Base64 (RFC 4648, section 4 alphabet) over the platform's own
// library: the decoding of links that people paste, not the login answer's
// decoder with its own rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorrel {

// Padded with "=".
std::string EncodeStandardBase64(std::string_view bytes);
// Alphabet characters only, then the "=" padding, which may be missing.
// Nothing when anything else appears or the length cannot be that of Base64.
std::optional<std::string> DecodeStandardBase64(std::string_view text);

namespace detail {
// The platform's decoder over whole, checked groups of four, the last one
// padded; `padding` is the number of "=" in it.
std::optional<std::string> DecodeCheckedGroups(std::string_view padded, size_t padding);
}  // namespace detail

}  // namespace sorrel
