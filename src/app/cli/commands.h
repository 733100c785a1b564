// The commands of sorrel-resolve; each returns the exit status.
#pragma once

#include <string>
#include <vector>

#include "app/cli/options.h"
#include "resolve/base64_standard.h"

namespace sorrel::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

int RunResolve(const Options& options, const std::vector<std::string>& addresses);
int RunDecode(const Base64Engine& base64, const std::vector<std::string>& links);
int RunEncode(const Base64Engine& base64, const std::vector<std::string>& addresses);
int RunHistory(const Options& options, const Base64Engine& base64);

}  // namespace sorrel::cli
