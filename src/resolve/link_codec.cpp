#include "resolve/link_codec.h"

#include <optional>

#include "resolve/base64_standard.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

struct Scheme {
  std::string_view prefix;
  LinkKind kind;
  std::string_view head;
  std::string_view tail;
};

constexpr Scheme kSchemes[] = {
    {"thunder://", LinkKind::kThunder, "AA", "ZZ"},
    {"flashget://", LinkKind::kFlashGet, "[FLASHGET]", "[FLASHGET]"},
    {"qqdl://", LinkKind::kQqdl, "", ""},
};

constexpr std::string_view kSiteTag = "&sorrel";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string WithoutBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (!IsBlank(c)) out += c;
  }
  return out;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

const Scheme* SchemeOf(std::string_view text) {
  for (const Scheme& scheme : kSchemes) {
    if (StartsWithIgnoringCase(text, scheme.prefix)) return &scheme;
  }
  return nullptr;
}

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 2;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 3;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length >= bytes.size()) return false;
    for (size_t k = 1; k <= length; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      const unsigned lo = k == 1 ? low : 0x80;
      const unsigned hi = k == 1 ? high : 0xBF;
      if (c < lo || c > hi) return false;
    }
    i += length + 1;
  }
  return true;
}

bool HasControlCharacter(std::string_view text) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return true;
  }
  return false;
}

DecodedLink Failure(LinkKind kind, const char* error) {
  DecodedLink result;
  result.kind = kind;
  result.error = error;
  return result;
}

}  // namespace

bool IsWrappedLink(std::string_view text) { return SchemeOf(WithoutBlanks(text)) != nullptr; }

DecodedLink DecodeWrappedLink(const Base64Engine& base64, std::string_view link) {
  const std::string text = WithoutBlanks(link);
  const Scheme* scheme = SchemeOf(text);
  if (!scheme) {
    return Failure(LinkKind::kUnknown, "这不是 thunder://、flashget:// 或 qqdl:// 开头的链接。");
  }
  std::string_view payload = std::string_view(text).substr(scheme->prefix.size());
  if (scheme->kind == LinkKind::kFlashGet) payload = payload.substr(0, payload.find('&'));
  if (payload.empty()) return Failure(scheme->kind, "链接里没有编码的地址。");

  const std::optional<std::string> bytes = DecodeStandardBase64(base64, payload);
  if (!bytes) return Failure(scheme->kind, "链接里的 Base64 编码有误。");
  const std::string_view inner = *bytes;
  const size_t wrapping = scheme->head.size() + scheme->tail.size();
  if (inner.size() < wrapping || inner.substr(0, scheme->head.size()) != scheme->head ||
      inner.substr(inner.size() - scheme->tail.size()) != scheme->tail) {
    return Failure(scheme->kind, scheme->kind == LinkKind::kThunder
                                     ? "解码后的内容不是迅雷链接的“AA…ZZ”包装。"
                                     : "解码后的内容不是快车链接的“[FLASHGET]…[FLASHGET]”包装。");
  }
  const std::string_view address = inner.substr(scheme->head.size(), inner.size() - wrapping);
  if (address.empty()) return Failure(scheme->kind, "链接解码后的地址是空的。");
  // The address goes out one a line: a line break inside would split it.
  if (HasControlCharacter(address)) return Failure(scheme->kind, "链接解码后的地址含有控制字符。");

  DecodedLink result;
  result.ok = true;
  result.kind = scheme->kind;
  result.address = IsValidUtf8(address) ? std::string(address) : GbkToUtf8(address);
  return result;
}

std::string EncodeThunder(const Base64Engine& base64, std::string_view address) {
  return "thunder://" + EncodeStandardBase64(base64, "AA" + std::string(address) + "ZZ");
}

std::string EncodeFlashGet(const Base64Engine& base64, std::string_view address) {
  return "flashget://" +
         EncodeStandardBase64(base64, "[FLASHGET]" + std::string(address) + "[FLASHGET]") +
         std::string(kSiteTag);
}

std::string EncodeQqdl(const Base64Engine& base64, std::string_view address) {
  return "qqdl://" + EncodeStandardBase64(base64, address);
}

}  // namespace sorrel
