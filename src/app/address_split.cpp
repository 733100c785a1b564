#include "app/address_split.h"

#include <algorithm>
#include <unordered_set>

#include "resolve/link_codec.h"

namespace sorrel {

namespace {

constexpr std::string_view kSchemes[] = {"https", "http", "thunder", "flashget", "qqdl"};
constexpr int kMostLinesJoined = 4;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsAt(std::string_view text, size_t end, std::string_view name) {
  if (end < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (Lower(text[end - name.size() + i]) != name[i]) return false;
  }
  return true;
}

// Where the scheme that ends just before the "://" at `colon` begins; npos
// when no scheme of ours ends there.
size_t SchemeStart(std::string_view text, size_t colon) {
  for (std::string_view name : kSchemes) {
    if (EndsAt(text, colon, name)) return colon - name.size();
  }
  return std::string_view::npos;
}

bool EndsAddress(char c) {
  const auto b = static_cast<unsigned char>(c);
  if (b <= 0x20 || b >= 0x7F) return true;
  switch (c) {
    case '"':
    case '\'':
    case '<':
    case '>':
    case '(':
    case ')':
    case '[':
    case ']':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '`':
      return true;
    default:
      return false;
  }
}

bool IsSentencePunctuation(char c) {
  return c == '.' || c == ',' || c == ':' || c == ';' || c == '!' || c == '?' || c == '*';
}

// The end of the address that goes on at `from`: the first character that
// ends an address, or the start of the next address's scheme.
size_t AddressEnd(std::string_view text, size_t from) {
  size_t i = from;
  while (i < text.size() && !EndsAddress(text[i])) {
    if (text[i] == ':' && text.substr(i, 3) == "://") {
      const size_t next = SchemeStart(text, i);
      if (next != std::string_view::npos) return std::max(next, from);
    }
    ++i;
  }
  return i;
}

std::string_view WithoutPunctuation(std::string_view address) {
  while (!address.empty() && IsSentencePunctuation(address.back())) address.remove_suffix(1);
  return address;
}

struct Judged {
  AddressKind kind = AddressKind::kOther;
  bool whole = false;
  std::string key;  // what makes two addresses the same
};

std::string PageKey(std::string_view page) {
  const size_t host = page.find("://") + 3;
  const size_t path = page.find('/', host);
  std::string key(page);
  for (size_t i = 0; i < std::min(path, key.size()); ++i) key[i] = Lower(key[i]);
  return key;
}

Judged Judge(const Base64Engine& base64, std::string_view address, std::string_view origin) {
  Judged judged;
  // An address here starts with its scheme and holds no blank.
  const bool web = address.size() > 4 && Lower(address[0]) == 'h';
  judged.kind = web ? KindOfAddress(address, origin) : AddressKind::kWrappedLink;
  if (judged.kind == AddressKind::kFilePage) {
    judged.whole = true;
    judged.key = PageKey(address);
  } else if (judged.kind == AddressKind::kWrappedLink) {
    const DecodedLink decoded = DecodeWrappedLink(base64, address);
    judged.whole = decoded.ok;
    judged.key = decoded.ok ? "\n" + decoded.address : std::string(address);
  }
  return judged;
}

// The start of the line after an address that ends at `end`, when only the
// break of a wrapped line (and at most one blank before it) lies between;
// npos otherwise.
size_t ContinuationAt(std::string_view text, size_t end) {
  size_t at = end;
  if (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (at < text.size() && text[at] == '\r') ++at;
  if (at >= text.size() || text[at] != '\n') return std::string_view::npos;
  ++at;
  if (at >= text.size() || EndsAddress(text[at])) return std::string_view::npos;
  return at;
}

}  // namespace

std::vector<FoundAddress> SplitAddresses(const Base64Engine& base64, std::string_view text,
                                         std::string_view origin) {
  std::vector<FoundAddress> found;
  std::unordered_set<std::string> seen;
  seen.reserve(text.size() / 64);
  size_t from = 0;
  for (;;) {
    const size_t colon = text.find("://", from);
    if (colon == std::string_view::npos) break;
    const size_t start = SchemeStart(text, colon);
    if (start == std::string_view::npos) {
      from = colon + 3;
      continue;
    }
    size_t end = AddressEnd(text, colon + 3);
    std::string_view address = text.substr(start, end - start);
    Judged judged = Judge(base64, WithoutPunctuation(address), origin);
    // A broken line mended, only when that makes a whole address of a part.
    std::string joined;
    if (!judged.whole) joined = address;
    size_t joinedEnd = end;
    for (int line = 1; !judged.whole && line < kMostLinesJoined; ++line) {
      const size_t next = ContinuationAt(text, joinedEnd);
      if (next == std::string_view::npos) break;
      const size_t nextEnd = AddressEnd(text, next);
      if (nextEnd == next) break;
      joined.append(text.substr(next, nextEnd - next));
      joinedEnd = nextEnd;
      Judged attempt = Judge(base64, WithoutPunctuation(joined), origin);
      if (attempt.whole) {
        judged = std::move(attempt);
        address = joined;
        end = joinedEnd;
      }
    }
    // What is no address of ours may hold one further on, as a page behind
    // a redirect; the scheme alone is passed over.
    from = judged.kind == AddressKind::kOther ? colon + 3 : end;
    if (judged.kind == AddressKind::kOther || !seen.insert(judged.key).second) continue;
    found.push_back({judged.kind, std::string(WithoutPunctuation(address))});
  }
  return found;
}

}  // namespace sorrel
