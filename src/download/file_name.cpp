#include "download/file_name.h"

#include <algorithm>

#include "text/codepage.h"

namespace sorrel {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t extra = c < 0x80                 ? 0
                              : c >= 0xC2 && c <= 0xDF ? 1
                              : c >= 0xE0 && c <= 0xEF ? 2
                              : c >= 0xF0 && c <= 0xF4 ? 3
                                                       : 4;
    if (extra == 4 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string AsUtf8(std::string_view bytes) {
  return IsUtf8(bytes) ? std::string(bytes) : GbkToUtf8(bytes);
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Windows, and most file systems, take no longer name.
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kMaxExtensionBytes = 32;

// The bytes of the UTF-8 character at `i` (1 for a stray byte).
std::size_t CharacterLength(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  const std::size_t length = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return std::min(length, s.size() - i);
}

// C0, DEL, C1 and the bidirectional embeddings, overrides and isolates
// (U+202A to U+202E, U+2066 to U+2069), which make a name read otherwise
// than it is.
bool IsInvisibleControl(std::string_view c) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(c[k]); };
  if (c.size() == 1) return byte(0) < 0x20 || byte(0) == 0x7F;
  if (c.size() == 2) return byte(0) == 0xC2 && byte(1) < 0xA0;
  if (c.size() != 3 || byte(0) != 0xE2) return false;
  return (byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE) ||
         (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9);
}

void TrimEnd(std::string& s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
}

// CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to LPT9 name devices on Windows,
// whatever follows them after a dot.
bool IsReservedOnWindows(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string SafeFileName(std::string_view name) {
  const std::string utf8 = AsUtf8(name);
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t length = CharacterLength(utf8, i);
    const std::string_view character(utf8.data() + i, length);
    i += length;
    if (IsInvisibleControl(character)) continue;
    switch (character.front()) {
      case '/':
      case '\\':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        out += '_';
        break;
      default:
        out += character;
    }
  }
  const std::size_t first = out.find_first_not_of(". ");
  out.erase(0, first == out.npos ? out.size() : first);
  TrimEnd(out);
  if (out.empty()) return "download";
  if (IsReservedOnWindows(out)) out = "_" + out;
  if (out.size() > kMaxNameBytes) {
    // The extension stays, when it looks like one.
    const std::size_t dot = out.rfind('.');
    const std::size_t extension =
        dot != out.npos && dot > 0 && out.size() - dot <= kMaxExtensionBytes ? out.size() - dot : 0;
    std::size_t cut = kMaxNameBytes - extension;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.erase(cut, out.size() - extension - cut);
    TrimEnd(out);
  }
  return out;
}

std::string FileNameFromAddress(std::string_view address) {
  std::string_view path = address.substr(0, address.find_first_of("?#"));
  const std::size_t scheme = path.find("://");
  if (scheme != path.npos) {
    path.remove_prefix(scheme + 3);
    const std::size_t slash = path.find('/');
    path = slash == path.npos ? std::string_view() : path.substr(slash);
  }
  return SafeFileName(
      PercentDecode(path.substr(path.rfind('/') == path.npos ? 0 : path.rfind('/') + 1)));
}

std::string DispositionFileName(std::string_view value) {
  std::string plain;
  std::size_t start = 0;
  while (start <= value.size()) {
    // Parameters split on ";" outside quotes.
    std::size_t end = start;
    bool quoted = false;
    for (; end < value.size(); ++end) {
      if (value[end] == '"') quoted = !quoted;
      if (value[end] == '\\' && quoted) ++end;
      if (value[end] == ';' && !quoted) break;
    }
    const std::string_view part = TrimBlanks(value.substr(start, end - start));
    const std::size_t equals = part.find('=');
    if (equals != part.npos) {
      const std::string_view key = TrimBlanks(part.substr(0, equals));
      std::string_view raw = TrimBlanks(part.substr(equals + 1));
      if (key.size() == 9 && StartsWithNoCase(key, "filename*")) {
        const std::size_t q1 = raw.find('\'');
        const std::size_t q2 = q1 == raw.npos ? raw.npos : raw.find('\'', q1 + 1);
        if (q2 != raw.npos) {
          const std::string_view charset = raw.substr(0, q1);
          const std::string bytes = PercentDecode(raw.substr(q2 + 1));
          const bool gbk = StartsWithNoCase(charset, "gb");
          const std::string name = gbk ? GbkToUtf8(bytes) : AsUtf8(bytes);
          if (!name.empty()) return name;
        }
      } else if (key.size() == 8 && StartsWithNoCase(key, "filename") && plain.empty()) {
        if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
          raw = raw.substr(1, raw.size() - 2);
          for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
            plain += raw[i];
          }
        } else {
          plain = raw;
        }
      }
    }
    start = end + 1;
  }
  return AsUtf8(plain);
}

}  // namespace sorrel
