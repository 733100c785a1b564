// A download engine (aria2c) of the tool's own: started from PATH, its
// JSON-RPC port on loopback only, a fresh random secret handed over in a
// private file rather than on its command line (which every local user can
// read), bound to the tool's process so it never outlives it, and a session
// file so that unfinished downloads resume at the next start. One
// implementation per platform beside this header.
#pragma once

#include <memory>
#include <string>

#include "download/aria2_client.h"

namespace sorrel {

struct PrivateEngineOptions {
  std::string program = "aria2c";  // looked up in PATH unless it holds a "/"
  std::string downloadDir;         // empty: UserDownloadDir()
  std::string dataDir;             // empty: $XDG_DATA_HOME/sorrel-resolver
};

class PrivateEngine {
 public:
  // Null with `error` (a Chinese sentence, UTF-8) when the engine cannot be
  // started or does not answer.
  static std::unique_ptr<PrivateEngine> Start(HttpStack& stack, ThreadSystem& threads,
                                              const PrivateEngineOptions& options,
                                              std::string& error);
  virtual ~PrivateEngine() = default;

  virtual const Aria2Endpoint& Endpoint() const = 0;
  virtual const std::string& DownloadDir() const = 0;
  virtual long ProcessId() const = 0;
};

// The user's download folder: `xdg-user-dir DOWNLOAD`, else ~/Downloads.
std::string UserDownloadDir();

}  // namespace sorrel
