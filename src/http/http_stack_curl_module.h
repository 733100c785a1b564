// The libcurl stack loaded from its own module at the first request. The
// program starts without libcurl and the two dozen libraries it brings;
// they are mapped only when the first request opens a session.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "http/http_stack.h"

namespace sorrel {

// The file name of the module, and of the function in it that creates the
// stack (with the stack's default options; a non-zero argument keeps the
// cookie file's warnings off standard error).
inline constexpr char kCurlModuleName[] = "libsorrel-http-curl.so";
inline constexpr char kCurlModuleFactory[] = "SorrelCreateCurlHttpStack";

// Where the program looks for the module: beside its executable (the build
// tree) and in ../lib/sorrel-resolver from it (the installed layout).
std::vector<std::string> DefaultCurlModulePaths();

class LoadedCurlStack : public HttpStack {
 public:
  // Tries `candidates` in order at the first use.
  explicit LoadedCurlStack(std::vector<std::string> candidates = DefaultCurlModulePaths());

  // Without the module every session fails to open and every cookie fails
  // to be stored; the reason is written once to standard error.
  std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                    EventPump* waitPump) override;
  bool SetCookie(std::string_view url, std::string_view name, std::string_view data) override;
  std::string CookieLine(std::string_view url) override;
  bool LimitsTime() override;

  // The loaded stack; null before the first use or when no module loaded.
  HttpStack* Loaded();

  // Before the first use: the stack writes no warnings of its cookie file.
  void Quiet() { quiet_ = true; }

 private:
  std::vector<std::string> candidates_;
  std::atomic<bool> quiet_{false};
  std::once_flag once_;
  // The module stays loaded and its stack alive until the process ends:
  // abandoned request workers may still be inside it.
  HttpStack* stack_ = nullptr;
};

}  // namespace sorrel
