// What the command does with an address it resolved: check it, hand it to
// aria2 and wait for the download. Texts are UTF-8.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/cli/options.h"
#include "app/engine_access.h"
#include "download/aria2_client.h"
#include "download/link_check.h"
#include "download/private_engine.h"

namespace sorrel::cli {

struct HandOffResult {
  std::optional<LinkCheck> check;
  std::string gid;
  std::string download;  // "", "complete" or "error"
  std::string message;   // why the check or the hand-off failed
  bool ok = true;
};

class HandOff {
 public:
  HandOff(const Options& options, const EngineAccess& engines);

  bool Wanted() const { return options_.check || options_.aria2; }
  HandOffResult Run(const std::string& normal, const std::string& page);

 private:
  // The client of the engine, connected on first use; null with `error`.
  Aria2Client* Engine(std::string& error);
  void Wait(const std::string& gid, const std::string& name, HandOffResult& result);

  const Options& options_;
  EngineAccess engines_;
  HttpStack& stack_ = engines_.http;
  ThreadSystem& threads_ = engines_.threads;
  std::unique_ptr<PrivateEngine> engine_;
  std::unique_ptr<Aria2Client> client_;
  std::string engineError_;
};

}  // namespace sorrel::cli
