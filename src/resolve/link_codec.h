// The links that download managers take: thunder://, flashget:// and
// qqdl://, each a Base64 wrapping of a plain address. Input and output are
// UTF-8; an address that was wrapped as code page 936 bytes comes out as
// UTF-8 too.
#pragma once

#include <string>
#include <string_view>

#include "resolve/base64_standard.h"

namespace sorrel {

enum class LinkKind { kUnknown, kThunder, kFlashGet, kQqdl };

struct DecodedLink {
  bool ok = false;
  std::string address;  // UTF-8
  std::string error;    // UTF-8, a Chinese sentence saying what is wrong
  LinkKind kind = LinkKind::kUnknown;
};

// Schemes in any letter case; blanks and line breaks anywhere are ignored,
// and so is a missing "=" padding. A FlashGet link may end in "&" and a site
// tag. Decoded bytes are taken as UTF-8 when they are valid UTF-8, else as
// code page 936.
DecodedLink DecodeWrappedLink(const Base64Engine& base64, std::string_view link);
// True when `text`, without its blanks and line breaks, starts with one of
// the three schemes.
bool IsWrappedLink(std::string_view text);

// The three forms of an address, the FlashGet one with the site tag
// "&sorrel" as the service writes it.
std::string EncodeThunder(const Base64Engine& base64, std::string_view address);
std::string EncodeFlashGet(const Base64Engine& base64, std::string_view address);
std::string EncodeQqdl(const Base64Engine& base64, std::string_view address);

}  // namespace sorrel
