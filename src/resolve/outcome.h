// Why a run of one of the two workflows ended, beside the texts that the
// window shows: a front end without those texts (the command line) turns it
// into its own message and exit status.
#pragma once

namespace sorrel {

enum class ResolveOutcome {
  kResolved,        // addresses written, or a captcha picture shown
  kRemoved,         // the page says the file is removed or unknown
  kNoCaptchaForm,   // a page without the captcha form
  kWrongCaptcha,    // the service refused the captcha
  kNoAddress,       // the service answered without a normal address
  kUnreachable,     // no answer at all: connection failed or empty page
  kTimedOut,        // a request ran out of time, or nothing arrived for too long
  kTooLarge,        // an answer beyond the body cap
  kConnectionCut,   // the connection ended in the middle of the page or the login answer
  kRedirectLoop,    // the service redirected without end
  kBadCaptcha,      // the captcha answer was no picture that can be shown
  kAddressTooLong,  // an address too long to send; nothing went out
  kReplaced,        // a later captcha refresh took over; this run showed nothing
  kInvalid,         // empty input, an address with no host, no captcha yet
};

}  // namespace sorrel
