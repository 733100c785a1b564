#include "app/cli/hand_off.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/cli/console.h"
#include "app/cli/interrupt.h"
#include "app/cli/local_files.h"
#include "download/file_name.h"
#include "http/proxy.h"
#include "text/escape_controls.h"

namespace sorrel::cli {

namespace {

// The link check's limit, as CheckLink has it.
constexpr std::uint32_t kCheckLimitMs = 15000;

constexpr auto kPollInterval = std::chrono::milliseconds(500);
constexpr auto kSignalCheck = std::chrono::milliseconds(50);

std::string ProgressLine(const Aria2Status& status, const std::string& name) {
  constexpr int kWidth = 24;
  const int percent = status.totalLength > 0
                          ? static_cast<int>(status.completedLength * 100 / status.totalLength)
                          : 0;
  const int filled = percent * kWidth / 100;
  return "\r\x1b[K[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kWidth - filled), '-') + "] " +
         std::to_string(percent) + "% " + HumanSize(status.completedLength) + "/" +
         HumanSize(status.totalLength) + " " + HumanSize(status.downloadSpeed) + "/s " +
         EscapeControls(name);
}

// Why files cannot be made in `dir`, as a sentence's end.
std::string Unwritable(const std::string& dir) {
  const int error = FolderProblem(dir);
  return error == 0 ? std::string() : std::strerror(error);
}

// The secret: the first line of `path`, blanks and CR at its end removed.
std::string ReadSecret(const std::string& path, std::string& secret) {
  std::string text;
  int error = 0;
  if (!ReadStart(path, 65536, text, error)) {
    return "无法读取 aria2 密钥文件 " + path + "：" + std::strerror(error) + "。";
  }
  secret = text.substr(0, text.find('\n'));
  while (!secret.empty() && (secret.back() == '\r' || secret.back() == ' ')) secret.pop_back();
  if (secret.empty()) return "aria2 密钥文件 " + path + " 的第一行是空的，应当是 RPC 密钥。";
  return {};
}

}  // namespace

HandOff::HandOff(const Options& options, const EngineAccess& engines)
    : options_(options), engines_(engines) {}

HandOff::~HandOff() = default;

std::string HandOff::Prepare() {
  if (!options_.aria2 || keeper_ || remote_) return {};
  // aria2 has no SOCKS: the download would go another way than the
  // resolution.
  if (const auto setting = ParseProxyUrl(options_.proxy); setting && IsSocks(setting->kind)) {
    return "aria2 不能经 SOCKS 代理下载：请改用 HTTP 代理，或不带 --aria2。";
  }
  if (!options_.aria2Address.empty()) {
    Aria2Endpoint endpoint{options_.aria2Address, {}};
    if (!options_.aria2SecretFile.empty()) {
      if (std::string why = ReadSecret(options_.aria2SecretFile, endpoint.secret); !why.empty()) {
        return why;
      }
    }
    if (Aria2AddressInClear(endpoint.address) && !options_.quiet) {
      Write(Stream::kError,
            "sorrel-resolve: " + endpoint.address + ": " + Aria2InClearWarning() + "\n");
    }
    remote_ = std::make_unique<Aria2Client>(stack_, threads_, std::move(endpoint));
    return {};
  }
  // The engine's own folder is not ours: a relative folder is made whole.
  std::error_code ignored;
  dir_ = options_.dir.empty()
             ? UserDownloadDir()
             : Utf8Path(std::filesystem::absolute(LocalPath(options_.dir), ignored));
  if (const std::string why = Unwritable(dir_); !why.empty()) {
    return "无法写入下载文件夹 " + dir_ + "：" + why + "。";
  }
  PrivateEngineOptions engineOptions;
  engineOptions.downloadDir = dir_;
  engineOptions.environmentProxy = options_.proxy == kSystemProxyText;
  keeper_ = std::make_unique<PrivateEngineKeeper>(stack_, threads_, std::move(engineOptions));
  return {};
}

std::string HandOff::Refusal(const std::string& normal) const {
  return options_.aria2 && !IsDownloadAddress(normal) ? NotDownloadSentence() : std::string();
}

HandOffResult HandOff::Run(const std::string& normal, const std::string& page,
                           const Renewer& renew) {
  HandOffResult result;
  std::string name = FileNameFromAddress(normal);
  if (options_.check) {
    result.check =
        CheckLink(stack_, threads_, normal, engines_.agent, kCheckLimitMs, options_.proxy);
    if (result.check->status != LinkStatus::kOk) {
      result.ok = false;
      result.message = result.check->proxyProblem.empty() ? LinkStatusSentence(result.check->status)
                                                          : result.check->proxyProblem;
      // An address that no longer gives the file is not worth waiting on.
      if (options_.aria2) result.download = "error";
      return result;
    }
    name = result.check->name;
  }
  if (!options_.aria2) return result;

  auto failed = [&](std::string message) {
    result.ok = false;
    result.download = "error";
    result.message = std::move(message);
    return result;
  };
  if (std::string why = Prepare(); !why.empty()) return failed(std::move(why));
  Aria2Download download;
  download.address = normal;
  download.fileName = name;
  download.referer = page;
  download.userAgent = std::string(engines_.agent);
  // The engine fetches through the proxy the resolution went through.
  if (const auto setting = ParseProxyUrl(options_.proxy)) {
    download.proxy = "http://" + setting->host + ":" + std::to_string(setting->port);
    download.proxyUser = setting->user;
    download.proxyPassword = setting->password;
  }
  Aria2Error failure;
  if (keeper_) {
    result.gid = keeper_->Add(download, engines_.CookieLine(normal), failure);
  } else {
    download.dir = options_.dir;
    result.gid = remote_->AddUri(download, failure);
  }
  if (result.gid.empty()) return failed(failure.message);
  if (onSent) onSent(result.gid);
  // A private engine ends with this process, so its downloads are waited on.
  if (options_.wait || keeper_) {
    DownloadRenewal renewal(
        result.gid, download,
        [this](const std::string& address) {
          return CheckLink(stack_, threads_, address, engines_.agent, kCheckLimitMs, options_.proxy)
              .status;
        },
        DownloadRenewal::Clock::now());
    Wait(keeper_ ? *keeper_->Client() : *remote_, renewal, renew,
         keeper_ ? download.dir + "/" + download.fileName : download.fileName, result);
  }
  return result;
}

void HandOff::Wait(Aria2Client& client, DownloadRenewal& renewal, const Renewer& renew,
                   const std::string& path, HandOffResult& result) {
  using State = DownloadRenewal::State;
  State state = State::kUnderWay;
  // The captcha of a renewal is asked with the run's own signal handling:
  // a signal then ends the captcha program as it does for the first one.
  while ((state = Watch(client, renewal, path, result)) == State::kNeedsAddress) {
    if (!options_.quiet) {
      Write(Stream::kError, "sorrel-resolve: " + EscapeControls(renewal.Page()) +
                                ": 下载地址已过期，输入验证码后继续下载。\n");
    }
    renewal.Supply(client, renew(renewal.Page()), DownloadRenewal::Clock::now());
  }
  result.gid = renewal.Gid();
  result.renewals = renewal.Renewals();
  if (result.signal != 0) return;
  if (state == State::kComplete) {
    result.download = "complete";
    return;
  }
  result.ok = false;
  result.download = state == State::kGone ? "gone" : "error";
  result.message = renewal.Message();
}

DownloadRenewal::State HandOff::Watch(Aria2Client& client, DownloadRenewal& renewal,
                                      const std::string& path, HandOffResult& result) {
  using State = DownloadRenewal::State;
  const bool bar = IsTerminal(Stream::kError) && !options_.quiet;
  const std::string name = path.substr(path.rfind('/') + 1);
  const InterruptsNoted noted;
  State state = renewal.Current();
  bool drawn = false;
  while (InterruptsNoted::Noted() == 0) {
    state = renewal.Poll(client, DownloadRenewal::Clock::now());
    if (InterruptsNoted::Noted() != 0) break;
    if (bar) drawn = Write(Stream::kError, ProgressLine(renewal.Status(), name));
    if (state != State::kUnderWay) break;
    for (auto slept = std::chrono::milliseconds(0);
         slept < kPollInterval && InterruptsNoted::Noted() == 0; slept += kSignalCheck) {
      std::this_thread::sleep_for(kSignalCheck);
    }
  }
  if (InterruptsNoted::Noted() != 0) {
    result.signal = InterruptsNoted::Noted();
    result.ok = false;
    const std::string& partial = renewal.Status().path;
    if (keeper_) {
      // The engine ends with the run; what it wrote stays, with its control
      // file, and no later run writes into it.
      result.download = "partial";
      result.message = "下载被中断，" + (partial.empty() ? path : partial) + " 只下载了一部分。";
    } else {
      result.download = "interrupted";
      result.message = "不再等待下载结束，aria2 仍在下载这个文件。";
    }
    // The last progress stays in view on a line of its own.
    if (drawn) Write(Stream::kError, "\n");
    return state;
  }
  if (drawn) Write(Stream::kError, "\r\x1b[K");
  return state;
}

}  // namespace sorrel::cli
