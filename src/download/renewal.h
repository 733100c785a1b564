// A download that outlives its address. The service's download addresses
// expire; an engine that comes back for the rest of a file after that (a
// dropped connection on a slow line) is refused, and no engine can mend
// this itself: only a resolver gets a fresh address for the same file page.
// A renewal watches one download handed to an engine, tells when a fresh
// address is needed, and gives it to the same download so that the bytes
// on disk are kept. It has no window and no thread: its owner polls it and
// answers a request for an address at once (the command line asks for the
// captcha in the terminal) or later (a window, once the user has typed the
// code). Texts are UTF-8.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "download/aria2_client.h"
#include "download/link_check.h"

namespace sorrel {

// What an engine's report says about the address of a download.
enum class EngineVerdict {
  kUnderWay,  // active, waiting or paused
  kComplete,
  kExpired,    // stopped: the service refused the address (HTTP 403 or 410)
  kUncertain,  // stopped by an error an expired address may stand behind: a link check tells
  kFailed,     // stopped for a reason a fresh address does not mend, or removed
};
EngineVerdict ReadEngineReport(const Aria2Status& status);

// How a fresh address reaches the download the engine reports.
enum class RenewalStep {
  kChangeUri,  // active, waiting or paused: its addresses are changed in place
  kAddAgain,   // stopped by an error: added again with the same dir and out, and resumed
  kNone,       // complete or removed
};
RenewalStep StepFor(const Aria2Status& status);

// What the owner of a renewal found for the file page.
struct FreshAddress {
  enum class Kind { kAddress, kGone, kFailed };
  Kind kind = Kind::kFailed;
  std::string address;   // kAddress: the new normal address
  std::string sentence;  // kGone: the service's own sentence; kFailed: why there is none
};

class DownloadRenewal {
 public:
  using Clock = std::chrono::steady_clock;
  // Whether a download address still gives its file.
  using LinkChecker = std::function<LinkStatus(const std::string& address)>;

  enum class State {
    kUnderWay,
    kNeedsAddress,  // a fresh address for Page() is wanted: a new captcha, a new resolution
    kComplete,
    kFailed,  // Message() says why
    kGone,    // the page says the file is gone; Message() is the service's sentence
  };

  // An active download that gets no byte for this long has its address
  // checked (the engine counts bytes in blocks of 16 KiB).
  static constexpr std::chrono::milliseconds kStallTime{20000};

  // `handed` is the download as it went to the engine as `gid`; its
  // referer is the file page a fresh address comes from.
  DownloadRenewal(std::string gid, Aria2Download handed, LinkChecker checkLink,
                  Clock::time_point now, std::chrono::milliseconds stallTime = kStallTime);

  // One look at the engine, and a link check when its report leaves the
  // address in doubt or an active download has stalled.
  State Poll(Aria2Client& engine, Clock::time_point now);
  // The answer to kNeedsAddress: the fresh address goes to the same
  // download (aria2.changeUri), or to the same file when the download has
  // stopped (aria2.addUri with the same dir and out, which the engine
  // resumes from its control file). What cannot be resumed ends as failed,
  // never started again from the first byte.
  State Supply(Aria2Client& engine, const FreshAddress& fresh, Clock::time_point now);

  State Current() const { return state_; }
  // A new one once the download was added again.
  const std::string& Gid() const { return gid_; }
  const std::string& Page() const { return handed_.referer; }
  const std::string& Address() const { return handed_.address; }
  // The engine's last report.
  const Aria2Status& Status() const { return status_; }
  const std::string& Message() const { return message_; }
  int Renewals() const { return renewals_; }

 private:
  State Fail(std::string message);
  State Expired();
  void Take(const Aria2Status& status, Clock::time_point now);
  // Why the stopped download cannot be taken up again as `again`; empty
  // when it can, or when this process cannot see the engine's files.
  std::string Unresumable(const Aria2Client& engine, const Aria2Download& again) const;

  std::string gid_;
  Aria2Download handed_;
  LinkChecker checkLink_;
  std::chrono::milliseconds stallTime_;
  State state_ = State::kUnderWay;
  Aria2Status status_;
  std::string message_;
  Clock::time_point lastProgress_;
  int renewals_ = 0;
  long long completedAtRenewal_ = 0;
  // Bytes a download added again must start from; 0 once that was seen.
  long long resumeFrom_ = 0;
};

// The seam to a front end that resolves pages for the renewals it polls.
class RenewalListener {
 public:
  virtual ~RenewalListener() = default;
  // Downloads of `page` wait for a fresh address: the front end shows a
  // new captcha for the page and answers through DownloadRenewals::Supply,
  // now or once the code is typed. Heard once until that answer.
  virtual void CaptchaNeeded(const std::string& page) = 0;
};

// The renewals of one front end's downloads, each known by the GID it was
// first handed over as (it keeps that name when added again). One fresh
// address serves every download of its page that waits.
class DownloadRenewals {
 public:
  using Clock = DownloadRenewal::Clock;

  DownloadRenewals(RenewalListener& listener, DownloadRenewal::LinkChecker checkLink);

  void Watch(const std::string& gid, const Aria2Download& handed, Clock::time_point now);
  // Polls each download under way or waiting for an address; the listener
  // hears of each page that came to need one.
  void Poll(Aria2Client& engine, Clock::time_point now);
  void Supply(Aria2Client& engine, const std::string& page, const FreshAddress& fresh,
              Clock::time_point now);
  // Null for a GID never watched.
  const DownloadRenewal* Find(const std::string& firstGid) const;

 private:
  RenewalListener& listener_;
  DownloadRenewal::LinkChecker checkLink_;
  std::map<std::string, DownloadRenewal> renewals_;
};

}  // namespace sorrel
