// What the command does with an address it resolved: check it, hand it to
// aria2 and wait for the download, giving it a fresh address each time the
// one it has expires. Texts are UTF-8.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/options.h"
#include "app/engine_access.h"
#include "download/aria2_client.h"
#include "download/link_check.h"
#include "download/private_engine.h"
#include "download/renewal.h"

namespace sorrel::cli {

struct HandOffResult {
  std::optional<LinkCheck> check;
  std::string gid;
  // "", "complete", "error", "gone", "partial" or "interrupted"
  std::string download;
  std::string message;  // why the check or the hand-off failed
  int renewals = 0;     // fresh addresses the download was given
  bool ok = true;
  // The signal that ended the wait; the caller ends the run with it once
  // the result is out.
  int signal = 0;
};

class HandOff {
 public:
  HandOff(const Options& options, const EngineAccess& engines);
  ~HandOff();

  bool Wanted() const { return options_.check || options_.aria2; }
  // Why no address of this run could be handed over (a secret file that
  // cannot be read or is empty, a download folder that cannot be written),
  // found before any captcha is spent; empty when nothing stands in the
  // way. Warns once on standard error of an engine reached in clear.
  std::string Prepare();
  // Why this resolved address is not handed over at all; empty when it is.
  std::string Refusal(const std::string& normal) const;
  // A fresh address for a file page whose download address expired: a new
  // captcha and a new resolution, as for the first.
  using Renewer = std::function<FreshAddress(const std::string& page)>;
  HandOffResult Run(const std::string& normal, const std::string& page, const Renewer& renew);
  // Told the GID as soon as the engine has taken a file.
  std::function<void(const std::string& gid)> onSent;

 private:
  void Wait(Aria2Client& client, DownloadRenewal& renewal, const Renewer& renew,
            const std::string& path, HandOffResult& result);
  // Polls until the download ends, a signal comes or it needs an address.
  DownloadRenewal::State Watch(Aria2Client& client, DownloadRenewal& renewal,
                               const std::string& path, HandOffResult& result);

  const Options& options_;
  EngineAccess engines_;
  HttpStack& stack_ = engines_.http;
  ThreadSystem& threads_ = engines_.threads;
  std::string dir_;  // the private engine's folder
  std::unique_ptr<PrivateEngineKeeper> keeper_;
  std::unique_ptr<Aria2Client> remote_;
};

}  // namespace sorrel::cli
