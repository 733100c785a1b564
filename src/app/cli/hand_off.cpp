#include "app/cli/hand_off.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "download/file_name.h"
#include "support/write_all_posix.h"

namespace sorrel::cli {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(500);

std::string ProgressLine(const Aria2Status& status, const std::string& name) {
  constexpr int kWidth = 24;
  const int percent = status.totalLength > 0
                          ? static_cast<int>(status.completedLength * 100 / status.totalLength)
                          : 0;
  const int filled = percent * kWidth / 100;
  return "\r\x1b[K[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kWidth - filled), '-') + "] " +
         std::to_string(percent) + "% " + HumanSize(status.completedLength) + "/" +
         HumanSize(status.totalLength) + " " + HumanSize(status.downloadSpeed) + "/s " + name;
}

}  // namespace

HandOff::HandOff(const Options& options, const EngineAccess& engines)
    : options_(options), engines_(engines) {}

Aria2Client* HandOff::Engine(std::string& error) {
  if (client_) return client_.get();
  if (!engineError_.empty()) {
    error = engineError_;
    return nullptr;
  }
  Aria2Endpoint endpoint;
  if (options_.aria2Address.empty()) {
    PrivateEngineOptions engineOptions;
    // The engine's own folder is not ours: a relative folder is made whole.
    std::error_code ignored;
    if (!options_.dir.empty()) {
      engineOptions.downloadDir = std::filesystem::absolute(options_.dir, ignored).string();
    }
    engine_ = PrivateEngine::Start(stack_, threads_, engineOptions, engineError_);
    if (!engine_) {
      error = engineError_;
      return nullptr;
    }
    endpoint = engine_->Endpoint();
  } else {
    endpoint.address = options_.aria2Address;
    if (!options_.aria2SecretFile.empty()) {
      std::ifstream in(options_.aria2SecretFile, std::ios::binary);
      if (!in || !std::getline(in, endpoint.secret)) {
        engineError_ = "无法读取 aria2 密钥文件 " + options_.aria2SecretFile + "：" +
                       std::strerror(errno) + "。";
        error = engineError_;
        return nullptr;
      }
      while (!endpoint.secret.empty() &&
             (endpoint.secret.back() == '\r' || endpoint.secret.back() == ' ')) {
        endpoint.secret.pop_back();
      }
    }
  }
  client_ = std::make_unique<Aria2Client>(stack_, threads_, endpoint);
  return client_.get();
}

HandOffResult HandOff::Run(const std::string& normal, const std::string& page) {
  HandOffResult result;
  std::string name = FileNameFromAddress(normal);
  if (options_.check) {
    result.check = CheckLink(stack_, threads_, normal, engines_.agent);
    if (result.check->status != LinkStatus::kOk) {
      result.ok = false;
      result.message = LinkStatusSentence(result.check->status);
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
  std::string error;
  Aria2Client* client = Engine(error);
  if (client == nullptr) return failed(error);
  Aria2Download download;
  download.address = normal;
  download.fileName = name;
  download.dir = engine_ ? engine_->DownloadDir() : options_.dir;
  download.referer = page;
  download.userAgent = std::string(engines_.agent);
  download.cookieLine = engines_.CookieLine(normal);
  Aria2Error failure;
  result.gid = client->AddUri(download, failure);
  if (result.gid.empty()) return failed(failure.message);
  // A private engine ends with this process, so its downloads are waited on.
  if (options_.wait || engine_) Wait(result.gid, name, result);
  return result;
}

void HandOff::Wait(const std::string& gid, const std::string& name, HandOffResult& result) {
  const bool bar = isatty(STDERR_FILENO) && !options_.quiet;
  Aria2Status status;
  Aria2Error failure;
  for (;;) {
    if (!client_->TellStatus(gid, status, failure)) {
      result.ok = false;
      result.download = "error";
      result.message = failure.message;
      break;
    }
    if (bar) WriteAll(STDERR_FILENO, ProgressLine(status, name));
    if (status.status == "complete") {
      result.download = "complete";
      break;
    }
    if (status.status == "error" || status.status == "removed") {
      result.ok = false;
      result.download = "error";
      result.message =
          "aria2 下载失败：" + (status.errorMessage.empty() ? status.status : status.errorMessage);
      break;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  if (bar) WriteAll(STDERR_FILENO, "\r\x1b[K");
}

}  // namespace sorrel::cli
