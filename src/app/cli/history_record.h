// What a run of the command line leaves in the history: each resolution
// that gives addresses, then what its check and its download came to.
// Texts are UTF-8.
#pragma once

#include <optional>
#include <string>

#include "app/cli/hand_off.h"
#include "app/cli/options.h"
#include "app/history.h"

namespace sorrel::cli {

class HistoryRecord {
 public:
  // Keeps nothing with --no-history.
  HistoryRecord(const Options& options, const Base64Engine& base64);

  void Resolved(const std::string& page, const std::string& normal, const std::string& thunder,
                const std::string& flashget);
  // What the engine and the check do next belongs to no entry: a link was
  // opened, not resolved.
  void Skip() { id_.clear(); }
  // The engine took the last resolution's file.
  void Sent(const std::string& gid);
  void HandedOff(const HandOffResult& result);

 private:
  void Apply(const HistoryChange& change);
  // Says once on standard error that the history cannot be written, and
  // each time a rewrite dropped damaged lines.
  void Warn();
  void SayDropped();

  const Options& options_;
  std::optional<History> history_;
  std::string id_;  // of the last resolution's entry
  bool warned_ = false;
};

}  // namespace sorrel::cli
