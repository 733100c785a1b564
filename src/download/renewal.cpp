#include "download/renewal.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace sorrel {

namespace {

bool UnderWay(const std::string& status) {
  return status == "active" || status == "waiting" || status == "paused";
}

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// The name of `path` within `dir`, as aria2's "out"; the last part of the
// path when it lies elsewhere.
std::string NameWithin(const std::string& path, const std::string& dir) {
  if (!dir.empty() && path.size() > dir.size() + 1 && path.compare(0, dir.size(), dir) == 0 &&
      path[dir.size()] == '/') {
    return path.substr(dir.size() + 1);
  }
  return path.substr(path.find_last_of("/\\") + 1);
}

}  // namespace

EngineVerdict ReadEngineReport(const Aria2Status& status) {
  if (UnderWay(status.status)) return EngineVerdict::kUnderWay;
  if (status.status == "complete") return EngineVerdict::kComplete;
  if (status.status != "error") return EngineVerdict::kFailed;
  const std::string& code = status.errorCode;
  const std::string& words = status.errorMessage;
  if (code == "22" && (words.find("status=403") != std::string::npos ||
                       words.find("status=410") != std::string::npos)) {
    return EngineVerdict::kExpired;
  }
  // An HTTP error whose status the engine no longer names ("No URI
  // available." once its retries are spent), an unknown one, and an answer
  // that would not resume: an expiry page may stand behind each.
  if (code == "22" || code == "1" || code == "8") return EngineVerdict::kUncertain;
  return EngineVerdict::kFailed;
}

RenewalStep StepFor(const Aria2Status& status) {
  if (UnderWay(status.status)) return RenewalStep::kChangeUri;
  if (status.status == "error") return RenewalStep::kAddAgain;
  return RenewalStep::kNone;
}

DownloadRenewal::DownloadRenewal(std::string gid, Aria2Download handed, LinkChecker checkLink,
                                 Clock::time_point now, std::chrono::milliseconds stallTime)
    : gid_(std::move(gid)),
      handed_(std::move(handed)),
      checkLink_(std::move(checkLink)),
      stallTime_(stallTime),
      lastProgress_(now) {}

DownloadRenewal::State DownloadRenewal::Fail(std::string message) {
  message_ = std::move(message);
  return state_ = State::kFailed;
}

DownloadRenewal::State DownloadRenewal::Expired() {
  if (state_ == State::kNeedsAddress) return state_;
  if (handed_.referer.empty()) return Fail(Aria2DownloadFailure(status_));
  // A fresh address that brought no byte is not followed by another one.
  if (renewals_ > 0 && status_.completedLength <= completedAtRenewal_) {
    return Fail("换了新的下载地址，下载仍然没有进展，不再更换。");
  }
  return state_ = State::kNeedsAddress;
}

void DownloadRenewal::Take(const Aria2Status& status, Clock::time_point now) {
  // Only an active download can stall.
  if (status.status != "active" || status.completedLength != status_.completedLength) {
    lastProgress_ = now;
  }
  status_ = status;
}

DownloadRenewal::State DownloadRenewal::Poll(Aria2Client& engine, Clock::time_point now) {
  if (state_ != State::kUnderWay && state_ != State::kNeedsAddress) return state_;
  Aria2Status status;
  Aria2Error failure;
  if (!engine.TellStatus(gid_, status, failure)) return Fail(failure.message);
  Take(status, now);
  if (resumeFrom_ > 0 && status.totalLength > 0) {
    // The engine knows what it kept once it knows the file's length.
    if (status.completedLength < resumeFrom_) {
      engine.Remove(gid_, failure);
      return Fail("无法接着下载 " + status.path +
                  "：aria2 从头开始了下载（已下载的部分或它的控制文件已经不在了），已停止。");
    }
    resumeFrom_ = 0;
  }
  switch (ReadEngineReport(status)) {
    case EngineVerdict::kComplete:
      return state_ = State::kComplete;
    case EngineVerdict::kUnderWay:
      if (state_ == State::kUnderWay && status.status == "active" &&
          now - lastProgress_ >= stallTime_) {
        // Checked again only after another stall.
        lastProgress_ = now;
        if (checkLink_(handed_.address) == LinkStatus::kExpired) return Expired();
      }
      return state_;
    case EngineVerdict::kExpired:
      return Expired();
    case EngineVerdict::kUncertain:
      if (state_ == State::kNeedsAddress) return state_;
      if (checkLink_(handed_.address) == LinkStatus::kExpired) return Expired();
      return Fail(Aria2DownloadFailure(status));
    case EngineVerdict::kFailed:
      break;
  }
  return Fail(Aria2DownloadFailure(status));
}

std::string DownloadRenewal::Unresumable(const Aria2Client& engine,
                                         const Aria2Download& again) const {
  // Only the tool's own engine keeps its files where this process sees them.
  if (!engine.Endpoint().own || status_.completedLength == 0) return {};
  const std::string path = again.dir + "/" + again.fileName;
  std::error_code ignored;
  if (std::filesystem::exists(PathOf(path + ".aria2"), ignored)) return {};
  return "无法接着下载 " + path + "：它的 aria2 控制文件（.aria2）已经不在了。为免从头重新下载，" +
         "没有再交给 aria2。";
}

DownloadRenewal::State DownloadRenewal::Supply(Aria2Client& engine, const FreshAddress& fresh,
                                               Clock::time_point now) {
  if (state_ != State::kNeedsAddress) return state_;
  Aria2Error failure;
  if (fresh.kind != FreshAddress::Kind::kAddress) {
    // A download that can never finish does not stay in the engine.
    if (fresh.kind == FreshAddress::Kind::kGone && UnderWay(status_.status)) {
      engine.Remove(gid_, failure);
    }
    message_ = fresh.sentence;
    return state_ = fresh.kind == FreshAddress::Kind::kGone ? State::kGone : State::kFailed;
  }
  if (!IsDownloadAddress(fresh.address)) return Fail(NotDownloadSentence());
  Aria2Status status;
  if (!engine.TellStatus(gid_, status, failure)) return Fail(failure.message);
  Take(status, now);
  switch (StepFor(status)) {
    case RenewalStep::kNone:
      if (status.status == "complete") return state_ = State::kComplete;
      return Fail(Aria2DownloadFailure(status));
    case RenewalStep::kChangeUri:
      if (!engine.ChangeUri(gid_, status.uris, {fresh.address}, failure)) {
        return Fail(failure.message);
      }
      break;
    case RenewalStep::kAddAgain: {
      Aria2Download again = handed_;
      again.address = fresh.address;
      again.resume = true;
      if (!status.dir.empty()) again.dir = status.dir;
      if (!status.path.empty()) again.fileName = NameWithin(status.path, again.dir);
      if (std::string why = Unresumable(engine, again); !why.empty()) return Fail(std::move(why));
      std::string gid = engine.AddUri(again, failure);
      if (gid.empty()) return Fail(failure.message);
      gid_ = std::move(gid);
      resumeFrom_ = status.completedLength;
      handed_ = std::move(again);
      handed_.resume = false;
      break;
    }
  }
  handed_.address = fresh.address;
  completedAtRenewal_ = status.completedLength;
  ++renewals_;
  return state_ = State::kUnderWay;
}

DownloadRenewals::DownloadRenewals(RenewalListener& listener,
                                   DownloadRenewal::LinkChecker checkLink)
    : listener_(listener), checkLink_(std::move(checkLink)) {}

void DownloadRenewals::Watch(const std::string& gid, const Aria2Download& handed,
                             Clock::time_point now) {
  renewals_.try_emplace(gid, gid, handed, checkLink_, now);
}

void DownloadRenewals::Poll(Aria2Client& engine, Clock::time_point now) {
  using State = DownloadRenewal::State;
  std::map<std::string, bool> asked;  // pages, and whether they were waiting already
  for (auto& [gid, renewal] : renewals_) {
    const State before = renewal.Current();
    if (before != State::kUnderWay && before != State::kNeedsAddress) continue;
    const bool waiting = renewal.Poll(engine, now) == State::kNeedsAddress;
    if (waiting) asked[renewal.Page()] |= before == State::kNeedsAddress;
  }
  for (const auto& [page, already] : asked) {
    if (!already) listener_.CaptchaNeeded(page);
  }
}

void DownloadRenewals::Supply(Aria2Client& engine, const std::string& page,
                              const FreshAddress& fresh, Clock::time_point now) {
  for (auto& [gid, renewal] : renewals_) {
    if (renewal.Current() == DownloadRenewal::State::kNeedsAddress && renewal.Page() == page) {
      renewal.Supply(engine, fresh, now);
    }
  }
}

const DownloadRenewal* DownloadRenewals::Find(const std::string& firstGid) const {
  const auto it = renewals_.find(firstGid);
  return it == renewals_.end() ? nullptr : &it->second;
}

}  // namespace sorrel
