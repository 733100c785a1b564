// Misbehaviour that tests can switch on: late, slow, endless or broken
// answers, oversized header blocks, bad pictures and redirects.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorrel::sim {

struct Faults {
  std::optional<int> delayMs;           // delay: wait before the response headers
  std::optional<int> trickleMs;         // trickle: body in 16-byte pieces, this far apart
  bool endless = false;                 // endless: the body never ends
  std::optional<int> bigHeaders;        // big-headers: this many extra Set-Cookie lines first
  std::optional<int> cookieFlood;       // cookie-flood: this many lasting cookies first
  bool htmlCaptcha = false;             // html-captcha: an HTML error page for the picture
  bool truncatedPicture = false;        // truncated-picture: half of the picture file
  bool hugePicture = false;             // huge-picture: header claims 50000x50000
  std::optional<std::string> redirect;  // redirect: 302 to this path ("" = /moved + path)
  bool redirectHttps = false;           // redirect-https: 302 to the https address of the path
  bool closeMidBody = false;            // close-mid-body: connection closed halfway
  std::optional<int> closeAfter;        // close-after: connection closed after this many body bytes
  std::optional<int> stallAfter;        // stall-after: nothing sent after this many body bytes
  // control-links: control and direction characters in the login answer's
  // links: "normal", "thunder" or "flashget", or all three when empty.
  std::optional<std::string> controlLinks;
  bool silent = false;        // silent: no answer at all until the client goes away
  bool redirectLoop = false;  // redirect-loop: 302 to the very address asked for

  bool Any() const;
  // Adds the faults that `other` switches on; its values win.
  void Merge(const Faults& other);
};

inline constexpr int kDefaultDelayMs = 2000;
inline constexpr int kDefaultTrickleMs = 100;
inline constexpr int kDefaultBigHeaders = 40;
inline constexpr int kDefaultCookieFlood = 1000;
inline constexpr int kDefaultCloseAfter = 16384;
inline constexpr int kDefaultStallAfter = 16384;
inline constexpr int kTricklePiece = 16;
inline constexpr std::uint16_t kHugePictureSide = 50000;
// What control-links puts into a link: a window title, a screen clear, a
// forged line, DEL, an 8-bit CSI (U+009B) and a right-to-left override.
inline constexpr std::string_view kControlText =
    "\x1b]0;sorrel\x07\x1b[2J\nFORGED\x7f\xc2\x9b\xe2\x80\xae";

// A comma-separated list of NAME or NAME:VALUE. False with a message on a
// name or value it does not know.
bool ParseFaults(std::string_view list, Faults& faults, std::string& error);

// The names, for the usage text (continuation lines indented to match it).
inline constexpr std::string_view kFaultNames =
    "delay[:MS] trickle[:MS] endless big-headers[:N] cookie-flood[:N]\n"
    "                      html-captcha truncated-picture huge-picture redirect[:PATH]\n"
    "                      redirect-https close-mid-body close-after[:BYTES] stall-after[:BYTES]\n"
    "                      control-links[:normal|thunder|flashget] silent redirect-loop";

}  // namespace sorrel::sim
