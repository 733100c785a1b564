#include "test_helpers/proxy_process.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace sorrel::test {

ProxyProcess::ProxyProcess(std::vector<std::string> args) {
  static std::atomic<int> count{0};
  log_ = (std::filesystem::temp_directory_path() /
          ("sorrel_proxy_" + std::to_string(getpid()) + "_" + std::to_string(++count) + ".log"))
             .string();
  std::remove(log_.c_str());
  std::vector<std::string> argv = {"python3", SORREL_TEST_PROXY_PATH, "--log", log_};
  argv.insert(argv.end(), args.begin(), args.end());
  int error = 0;
  child_ = ChildProcess::Start({argv, ChildStream::kPipe, ChildStream::kInherit}, error);
  if (!child_) return;
  const auto line = child_->ReadLine(ChildProcess::Clock::now() + std::chrono::seconds(10));
  if (line && !line->empty()) port_ = std::atoi(line->c_str());
}

ProxyProcess::~ProxyProcess() {
  if (child_) child_->Stop(std::chrono::seconds(2));
  std::remove(log_.c_str());
}

std::vector<std::string> ProxyProcess::Log() const {
  std::vector<std::string> lines;
  std::ifstream in(log_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace sorrel::test
