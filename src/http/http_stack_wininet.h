// The HTTP stack over WinInet, for the Windows build. Its cookie store is
// WinInet's own, shared by every request of the process.
#pragma once

#include "http/http_stack.h"

namespace sorrel {

// Every call blocks the calling thread until WinInet answers; callers on the
// GUI thread keep the window alive between reads.
class WinInetHttpStack : public HttpStack {
 public:
  std::unique_ptr<HttpSession> Open(std::string_view agent, std::string_view proxy,
                                    EventPump* waitPump) override;
  bool SetCookie(std::string_view url, std::string_view name, std::string_view data) override;
  std::string CookieLine(std::string_view url) override;
  bool LimitsTime() override { return false; }
};

}  // namespace sorrel
