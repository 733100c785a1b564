#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/options.h"

int main(int argc, char** argv) {
  using namespace sorrel::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParsedCommandLine parsed = ParseCommandLine(arguments);
  if (!parsed.ok) {
    std::fprintf(stderr, "sorrel-resolve: %s\n%s", parsed.error.c_str(), UsageText());
    return kExitUsage;
  }
  const Options& options = parsed.options;
  switch (options.command) {
    case Command::kHelp:
      std::fputs(HelpText(), stdout);
      return kExitOk;
    case Command::kVersion:
      std::printf("sorrel-resolve %s\n", SORREL_VERSION);
      return kExitOk;
    case Command::kDecode:
      return RunDecode(options.operands);
    case Command::kEncode:
      return RunEncode(options.operands);
    case Command::kHistory:
      return RunHistory(options);
    case Command::kResolve:
      break;
  }
  std::vector<std::string> addresses;
  std::string error;
  if (!CollectAddresses(options, RunOrigin(options), addresses, error)) {
    std::fprintf(stderr, "sorrel-resolve: %s\n%s", error.c_str(), UsageText());
    return kExitUsage;
  }
  return RunResolve(options, addresses);
}
