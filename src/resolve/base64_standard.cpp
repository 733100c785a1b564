#include "resolve/base64_standard.h"

namespace sorrel {

namespace {

bool IsAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

}  // namespace

std::string EncodeStandardBase64(const Base64Engine& engine, std::string_view bytes) {
  return engine.Encode(bytes);
}

// The platform decoders tolerate blanks and some foreign bytes, so the
// strict rules are checked here before they see the text.
std::optional<std::string> DecodeStandardBase64(const Base64Engine& engine, std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == '=' && text.size() - end < 2) --end;
  const std::string_view body = text.substr(0, end);
  for (char c : body) {
    if (!IsAlphabet(c)) return std::nullopt;
  }
  if (body.size() % 4 == 1) return std::nullopt;
  const size_t padding = (4 - body.size() % 4) % 4;
  if (end != text.size() && text.size() - end != padding) return std::nullopt;
  if (body.empty()) return std::string();
  return engine.DecodeCheckedGroups(std::string(body) + std::string(padding, '='), padding);
}

}  // namespace sorrel
