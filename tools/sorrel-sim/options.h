// Command line of sorrel-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "faults.h"
#include "picture.h"

namespace sorrel::sim {

inline constexpr std::uint16_t kDefaultPort = 8017;
inline constexpr int kDefaultTokenSeconds = 300;

// A fault switched on for a whole run, for every path or one path.
struct FaultRule {
  std::string path;  // empty: every path
  Faults faults;
  int remaining = -1;  // requests left; -1 without limit
};

struct Options {
  std::uint16_t port = kDefaultPort;
  PictureFormat picture = PictureFormat::kPng;
  std::vector<std::pair<std::string, std::string>> files;  // id, path
  int tokenSeconds = kDefaultTokenSeconds;
  int extraFields = 0;
  bool verbose = false;
  bool help = false;
  bool testMode = false;
  std::optional<std::string> fixedCode;
  std::string requestLog;
  std::vector<FaultRule> faults;
};

// False with a message for an unknown option, a missing or bad value, or a
// test option without --test-mode.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

std::string UsageText();

}  // namespace sorrel::sim
