// Why a run of one of the two workflows ended, beside the texts that the
// window shows: a front end without those texts (the command line) turns it
// into its own message and exit status.
#pragma once

namespace sorrel {

enum class ResolveOutcome {
  Resolved,       // addresses written, or a captcha picture shown
  Removed,        // the page says the file is removed or unknown
  NoCaptchaForm,  // a page without the captcha form
  WrongCaptcha,   // the service refused the captcha
  NoAddress,      // the service answered without a normal address
  Unreachable,    // no answer at all: connection failed or empty page
  TimedOut,       // a timed request ran out of time
  TooLarge,       // an answer beyond the body cap
  Invalid,        // empty input, an address with no host, no captcha yet, no picture
};

}  // namespace sorrel
