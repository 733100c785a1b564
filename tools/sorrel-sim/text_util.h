// Small text helpers of the demo service: Base64, percent escapes, form and
// query parsing, JSON and HTML escaping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sorrel::sim {

using NameValues = std::vector<std::pair<std::string, std::string>>;

// RFC 4648 section 4 alphabet, with "=" padding.
std::string Base64Encode(std::string_view bytes);
// Decodes the same alphabet; stops at the first "=" and skips other foreign bytes.
std::string Base64Decode(std::string_view text);

// Escapes every byte outside the RFC 3986 unreserved set as %XX (upper-case hex).
std::string PercentEncode(std::string_view bytes);
// Decodes %XX escapes (a malformed escape stays as it is); `plusIsSpace` for form data.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

// application/x-www-form-urlencoded, leniently: pieces split on "&", the name
// up to the first "=", pieces with an empty name ignored, escapes decoded.
NameValues ParseForm(std::string_view body);
// First value of `name` in `pairs`, or empty.
std::string FindValue(const NameValues& pairs, std::string_view name);
bool HasName(const NameValues& pairs, std::string_view name);

// Cookie header value "a=b; c=d" into pairs.
NameValues ParseCookieHeader(std::string_view value);

// A JSON string literal, quotes included. Valid UTF-8 passes through; any
// other byte becomes \u00XX, so the text stays valid JSON.
std::string JsonString(std::string_view bytes);

std::string HtmlEscape(std::string_view text);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);
std::string TrimSpaces(std::string_view text);

// Decimal parse of the whole text; false on anything else or overflow.
bool ParseUint(std::string_view text, std::uint64_t& value);

// Human-readable size such as "2.1 KB".
std::string FormatSize(std::uint64_t bytes);

}  // namespace sorrel::sim
