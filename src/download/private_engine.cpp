#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "download/engine_files.h"
#include "download/private_engine.h"

namespace sorrel {

std::string NetscapeCookies(const HostCookies& cookies) {
  std::string file = "# Netscape HTTP Cookie File\n";
  std::istringstream pieces(cookies.line);
  for (std::string piece; std::getline(pieces, piece, ';');) {
    const std::size_t first = piece.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    piece.erase(0, first);
    const std::size_t equals = piece.find('=');
    if (equals == 0 || equals == std::string::npos ||
        piece.find_first_of("\t\r\n") != std::string::npos) {
      continue;
    }
    file += cookies.host + "\tFALSE\t/\t" + (cookies.secureOnly ? "TRUE" : "FALSE") + "\t0\t" +
            piece.substr(0, equals) + "\t" + piece.substr(equals + 1) + "\n";
  }
  return file;
}

std::string NumberedName(const std::string& name, int k) {
  if (k == 0) return name;
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + "." + std::to_string(k);
  return name.substr(0, dot) + "." + std::to_string(k) + name.substr(dot);
}

std::string HoldKey(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : path) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

PrivateEngineKeeper::PrivateEngineKeeper(HttpStack& stack, ThreadSystem& threads,
                                         PrivateEngineOptions options)
    : stack_(stack),
      threads_(threads),
      options_(std::move(options)),
      dir_(options_.downloadDir.empty() ? UserDownloadDir() : options_.downloadDir),
      dataDir_(options_.dataDir.empty() ? EngineDataDir() : options_.dataDir) {
  options_.downloadDir = dir_;
  options_.dataDir = dataDir_;
}

PrivateEngineKeeper::~PrivateEngineKeeper() = default;

bool PrivateEngineKeeper::Running() {
  // The client stays: asked, it tells that the engine no longer answers.
  if (engine_ && !engine_->Running()) engine_.reset();
  return engine_ != nullptr;
}

bool PrivateEngineKeeper::Started(const Aria2Download& download, const std::string& cookieLine,
                                  Aria2Error& error) {
  if (!Running()) {
    PrivateEngineOptions options = options_;
    if (!cookieLine.empty()) {
      std::string scheme = download.address.substr(0, download.address.find(':'));
      for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      options.cookies = {DownloadHost(download.address), cookieLine, scheme == "https"};
    }
    std::string why;
    client_.reset();
    engine_ = PrivateEngine::Start(stack_, threads_, options, why);
    if (!engine_) {
      error = {Aria2Failure::kNotStarted, why};
      return false;
    }
    client_ = std::make_unique<Aria2Client>(stack_, threads_, engine_->Endpoint());
  }
  return true;
}

std::string PrivateEngineKeeper::AddAgain(const Aria2Download& download,
                                          const std::string& cookieLine, Aria2Error& error) {
  if (!IsDownloadAddress(download.address)) {
    error = {Aria2Failure::kNotDownload, NotDownloadSentence()};
    return {};
  }
  if (!Started(download, cookieLine, error)) return {};
  Aria2Download again = download;
  again.resume = true;
  return client_->AddUri(again, error);
}

std::string PrivateEngineKeeper::Add(Aria2Download& download, const std::string& cookieLine,
                                     Aria2Error& error) {
  if (!IsDownloadAddress(download.address)) {
    error = {Aria2Failure::kNotDownload, NotDownloadSentence()};
    return {};
  }
  // Once a download has made its file, the file itself keeps others off.
  std::erase_if(holds_, [](const auto& held) {
    std::error_code ignored;
    const std::u8string path(reinterpret_cast<const char8_t*>(held.first.data()),
                             held.first.size());
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
  });
  if (download.dir.empty()) download.dir = dir_;
  std::unique_ptr<NameHold> hold = HoldFileName(download.dir, download.fileName, dataDir_);
  if (!hold) {
    error = {Aria2Failure::kNotStarted,
             "无法在下载文件夹 " + download.dir + " 里为 " + download.fileName + " 选定文件名。"};
    return {};
  }
  if (!Started(download, cookieLine, error)) return {};
  download.fileName = hold->Name();
  const std::string gid = client_->AddUri(download, error);
  if (!gid.empty()) holds_.emplace_back(download.dir + "/" + download.fileName, std::move(hold));
  return gid;
}

}  // namespace sorrel
