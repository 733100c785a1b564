// Why a run of one of the two workflows ended, beside the texts that the
// window shows: a front end without those texts (the command line) turns it
// into its own message and exit status.
#pragma once

namespace sorrel {

enum class ResolveOutcome {
  Resolved,        // addresses written, or a captcha picture shown
  Removed,         // the page says the file is removed or unknown
  NoCaptchaForm,   // a page without the captcha form
  WrongCaptcha,    // the service refused the captcha
  NoAddress,       // the service answered without a normal address
  Unreachable,     // no answer at all: connection failed or empty page
  TimedOut,        // a request ran out of time, or nothing arrived for too long
  TooLarge,        // an answer beyond the body cap
  ConnectionCut,   // the connection ended in the middle of the page or the login answer
  RedirectLoop,    // the service redirected without end
  BadCaptcha,      // the captcha answer was no picture that can be shown
  AddressTooLong,  // an address too long to send; nothing went out
  Replaced,        // a later captcha refresh took over; this run showed nothing
  Invalid,         // empty input, an address with no host, no captcha yet
};

}  // namespace sorrel
