// What the window does with text that reaches its address box from the
// user's hands or from outside: a download manager's wrapped link is shown
// at once, a file page of the service goes to the captcha, anything else is
// named in one notice. The clipboard is taken once, on activation only.
// Texts here are UTF-8 unless named code page 936.
#pragma once

#include <string>
#include <string_view>

#include "resolve/base64_standard.h"
#include "resolve/program_state.h"
#include "text/text.h"

namespace sorrel {

enum class AddressKind { kWrappedLink, kFilePage, kOther };

// `origin` is the service's scheme and host; a file page is
// origin + "/file/" + its name, the scheme as http or https in any case.
AddressKind KindOfAddress(std::string_view text, std::string_view origin);

struct OpenedLink {
  bool ok = false;
  // Code page 936, as a resolution writes them: the result box's text and
  // the three addresses behind it.
  Text resultText;
  Text normalLink;
  Text thunderLink;
  Text flashGetLink;
  // Code page 936: the notice for a link that does not decode.
  Text notice;
};

// Code page 936: the result box's text for three addresses, as a resolution
// writes it.
Text ResultText(const Text& normal, const Text& thunder, const Text& flashGet);

// The link's three addresses: the decoded one, and the Thunder and FlashGet
// forms, the link's own as given (without blanks) and the other made from
// the decoded address.
OpenedLink OpenWrappedLink(const Base64Engine& base64, std::string_view link);
// Puts a decoded link's three addresses where a resolution leaves them, so
// the copy and send items serve both alike.
void KeepOpenedLink(const OpenedLink& opened, ProgramState& state);
// Code page 936: the notice for text that is neither a link nor a page.
Text UnknownAddressNotice(std::string_view origin);

// The clipboard rule: offer a text to the address box when the window
// becomes active, never the same one twice, never one the window itself
// left on the clipboard.
class ClipboardOffer {
 public:
  // `base64` tells a link that decodes from one that does not.
  explicit ClipboardOffer(const Base64Engine& base64) : base64_(base64) {}

  // Text the window put on the clipboard itself (its copy items).
  void NoteOwnCopy(std::string_view text);
  // The clipboard as the window left it when it lost activation: whatever
  // the user copied inside the window is no news when it comes back.
  void NoteLeft(std::string_view clipboard);
  // True when `clipboard` should go to the address box now; it is then
  // remembered and never offered again.
  bool Take(std::string_view clipboard, std::string_view addressBox, std::string_view origin);

 private:
  const Base64Engine& base64_;
  std::string ownCopy_;
  std::string left_;
  std::string taken_;
};

// Blanks and line breaks at both ends removed.
std::string TrimmedAddress(std::string_view text);

}  // namespace sorrel
