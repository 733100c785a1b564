// The HTTP stack over WinInet, for the Windows build. Its cookie store is
// WinInet's own, shared by every request of the process.
#pragma once

#include <cstdint>

#include "http/http_stack.h"

namespace sorrel {

// Every call blocks the calling thread until WinInet answers, or until
// nothing has arrived for the silence limit; the request operations run
// their exchanges on workers while the window's thread waits.
class WinInetHttpStack : public HttpStack {
 public:
  explicit WinInetHttpStack(std::uint32_t silenceMs = kSilenceLimitMs) : silenceMs_(silenceMs) {}

  std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                    EventPump* waitPump) override;
  bool SetCookie(std::string_view url, std::string_view name, std::string_view data) override;
  std::string CookieLine(std::string_view url) override;
  bool LimitsTime() override { return false; }

 private:
  std::uint32_t silenceMs_;
};

}  // namespace sorrel
