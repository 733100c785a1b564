#include "app/address_intake.h"

#include "resolve/link_codec.h"
#include "resolve/texts.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) return false;
  }
  return true;
}

// The host part of an address after its http or https scheme; empty when
// it has neither.
std::string_view AfterScheme(std::string_view address) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (StartsWithIgnoringCase(address, scheme)) return address.substr(scheme.size());
  }
  return {};
}

// A link as the codec reads it: blanks and line breaks anywhere are no part
// of it.
std::string WithoutBlanks(std::string_view text) {
  std::string kept;
  for (char c : text) {
    if (!IsBlank(c)) kept += c;
  }
  return kept;
}

// An address copied along with a sentence around it is not an address.
constexpr size_t kLongestOffer = 4096;

}  // namespace

std::string TrimmedAddress(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

AddressKind KindOfAddress(std::string_view text, std::string_view origin) {
  const std::string address = TrimmedAddress(text);
  if (IsWrappedLink(address)) return AddressKind::kWrappedLink;
  const std::string_view host = AfterScheme(origin);
  const std::string_view rest = AfterScheme(address);
  if (host.empty() || !StartsWithIgnoringCase(rest, host)) return AddressKind::kOther;
  const std::string_view path = rest.substr(host.size());
  constexpr std::string_view kFilePath = "/file/";
  if (!StartsWithIgnoringCase(path, kFilePath) || path.size() == kFilePath.size()) {
    return AddressKind::kOther;
  }
  for (char c : path) {
    if (static_cast<unsigned char>(c) <= 0x20) return AddressKind::kOther;
  }
  return AddressKind::kFilePage;
}

OpenedLink OpenWrappedLink(const Base64Engine& base64, std::string_view link) {
  OpenedLink opened;
  const DecodedLink decoded = DecodeWrappedLink(base64, link);
  if (!decoded.ok) {
    opened.notice = Utf8ToGbk("无法识别的链接：" + decoded.error);
    return opened;
  }
  opened.ok = true;
  opened.normalLink = Utf8ToGbk(decoded.address);
  // A wrapped link keeps its own form: wrapped anew, an address of code page
  // 936 bytes would come back wrapped as UTF-8, which a download manager
  // expecting code page 936 misreads.
  const Text pasted = Utf8ToGbk(WithoutBlanks(link));
  opened.thunderLink =
      decoded.kind == LinkKind::kThunder ? pasted : EncodeThunder(base64, decoded.address);
  opened.flashGetLink =
      decoded.kind == LinkKind::kFlashGet ? pasted : EncodeFlashGet(base64, decoded.address);
  opened.resultText = ResultText(opened.normalLink, opened.thunderLink, opened.flashGetLink);
  return opened;
}

Text ResultText(const Text& normal, const Text& thunder, const Text& flashGet) {
  return texts::NormalHeading() + normal + texts::ThunderHeading() + thunder +
         texts::FlashGetHeading() + flashGet;
}

void KeepOpenedLink(const OpenedLink& opened, ProgramState& state) {
  state.NormalLink = opened.normalLink;
  state.ThunderLink = opened.thunderLink;
  state.FlashGetLink = opened.flashGetLink;
}

Text UnknownAddressNotice(std::string_view origin) {
  return Utf8ToGbk("无法识别的链接：它既不是 thunder://、flashget:// 或 qqdl:// 链接，也不是 " +
                   std::string(origin) + "/file/… 这样的文件页地址。");
}

void ClipboardOffer::NoteOwnCopy(std::string_view text) { ownCopy_ = TrimmedAddress(text); }

void ClipboardOffer::NoteLeft(std::string_view clipboard) { left_ = TrimmedAddress(clipboard); }

bool ClipboardOffer::Take(std::string_view clipboard, std::string_view addressBox,
                          std::string_view origin) {
  const std::string text = TrimmedAddress(clipboard);
  if (text.empty() || text.size() > kLongestOffer) return false;
  if (text == ownCopy_ || text == left_ || text == taken_ || text == TrimmedAddress(addressBox)) {
    return false;
  }
  switch (KindOfAddress(text, origin)) {
    case AddressKind::kFilePage:
      break;
    case AddressKind::kWrappedLink:
      // A broken link on the clipboard is someone else's business: no
      // notice for what the user did not hand over.
      if (!DecodeWrappedLink(base64_, text).ok) return false;
      break;
    case AddressKind::kOther:
      return false;
  }
  taken_ = text;
  return true;
}

}  // namespace sorrel
