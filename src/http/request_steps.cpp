#include "http/request_steps.h"

#include <cstdint>
#include <vector>

#include "text/ascii.h"
#include "text/convert.h"

namespace sorrel {

namespace {

constexpr std::string_view kSetCookieMarker = "Set-Cookie: ";

// Splits at LF (dropping a CR before it) and at any byte of `extraEnds`.
std::vector<std::string_view> SplitLines(std::string_view text, std::string_view extraEnds) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const bool end = i == text.size() || text[i] == '\n' || extraEnds.find(text[i]) != text.npos;
    if (!end) continue;
    std::string_view line = text.substr(start, i - start);
    if (i < text.size() && text[i] == '\n' && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (i < text.size() || !line.empty()) lines.push_back(line);
    start = i + 1;
  }
  return lines;
}

// Stores one cookie line and gives the rest after the marker's 12 bytes.
Text StoreCookieLine(HttpStack& stack, std::string_view line, std::string_view host) {
  const Text rest =
      Mid(line, static_cast<int>(kSetCookieMarker.size()) + 1, static_cast<int>(line.size()));
  const int eq = Find(rest, "=");
  const Text name = Left(rest, eq - 1);
  const Text data = Right(rest, static_cast<int>(rest.size()) - eq);
  stack.SetCookie("http://" + Text(host), name, data);
  return rest;
}

}  // namespace

ByteSet ReadWholeBody(HttpRequest& request, std::size_t chunk, EventPump* pump, std::size_t cap,
                      const StopFlag& stop, bool* tooLarge) {
  ByteSet body;
  for (;;) {
    ByteSet buffer(chunk, 0);
    if (pump != nullptr) pump->ProcessPendingEvents();
    if (Stopped(stop)) return {};
    const std::size_t count = request.Read(buffer.data(), chunk);
    if (count == 0) break;
    if (body.size() + count > cap) {
      if (tooLarge != nullptr) *tooLarge = true;
      return {};
    }
    body.insert(body.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
  }
  return body;
}

RequestFailure FailureOf(const HttpRequest& request, bool sent, bool tooLarge,
                         std::string_view headerText, std::size_t bodySize) {
  if (tooLarge) return RequestFailure::kTooLarge;
  if (const RequestFailure failure = request.Failure(); failure != RequestFailure::kNone) {
    return failure;
  }
  if (!sent) return RequestFailure::kUnreachable;
  // Stacks that see a connection end early report it; the declared length
  // tells where one does not.
  for (std::string_view line : SplitLines(headerText, "")) {
    const std::size_t colon = line.find(':');
    if (colon == line.npos ||
        !EqualsIgnoreCase(TrimAscii(line.substr(0, colon)), "Content-Length")) {
      continue;
    }
    const std::string_view digits = TrimAscii(line.substr(colon + 1));
    std::size_t declared = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9' || declared > (SIZE_MAX - 9) / 10) return RequestFailure::kNone;
      declared = declared * 10 + static_cast<std::size_t>(c - '0');
    }
    if (!digits.empty() && bodySize < declared) return RequestFailure::kCut;
    break;
  }
  return RequestFailure::kNone;
}

ByteSet ConvertBody(ByteSet body, int conversion) {
  if (conversion == 1) return BytesOf(Utf8ToGbk(TextOf(body)));
  if (conversion == 2) return BytesOf(Big5ToSimplifiedGbk(TextOf(body)));
  return body;
}

Text QueryHeaderText(HttpRequest& request) {
  Text buffer = SpaceText(kHeaderBufferBytes);
  std::uint32_t length = kHeaderBufferBytes;
  if (!request.QueryRawHeaders(buffer.data(), length) && length > buffer.size()) {
    buffer = SpaceText(static_cast<int>(length));
    request.QueryRawHeaders(buffer.data(), length);
  }
  return buffer.substr(0, buffer.find('\0'));
}

void AddDefaultAccept(Text& headers, std::string_view marker) {
  static constexpr std::string_view kAcceptLine =
      "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
      "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
      "application/msword, */*\r\n";
  if (Find(headers, marker, 1, true) <= 0) headers += kAcceptLine;
}

void StoreResponseCookies(HttpStack& stack, std::string_view headerText, std::string_view host) {
  if (Find(headerText, kSetCookieMarker, 1, true) <= 0) return;
  for (std::string_view line : SplitLines(headerText, "")) {
    if (Find(line, kSetCookieMarker, 1, true) > 0) StoreCookieLine(stack, line, host);
  }
}

Text CollectResponseCookies(HttpStack& stack, std::string_view headerText, std::string_view host) {
  Text collected;
  if (Find(headerText, kSetCookieMarker, 1, true) <= 0) return collected;
  for (std::string_view line : SplitLines(headerText, std::string_view("\0\x1a", 2))) {
    if (Find(line, kSetCookieMarker, 1, true) <= 0) continue;
    const Text rest = StoreCookieLine(stack, line, host);
    const int semicolon = Find(rest, ";");
    collected += (semicolon > 0 ? Left(rest, semicolon - 1) : rest) + ";";
  }
  return collected;
}

}  // namespace sorrel
