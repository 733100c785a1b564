#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/console.h"
#include "app/cli/engines_headless.h"
#include "app/cli/options.h"

int main(int argc, char** argv) {
  using namespace sorrel::cli;
  const ParsedCommandLine parsed = ParseCommandLine(Arguments(argc, argv));
  if (!parsed.ok) {
    Write(Stream::kError, "sorrel-resolve: " + parsed.error + "\n" + UsageText());
    return kExitUsage;
  }
  const Options& options = parsed.options;
  const sorrel::Base64Engine& base64 = sorrel::HeadlessPlatformEngines(options.quiet).base64;
  switch (options.command) {
    case Command::kHelp:
      Write(Stream::kOut, HelpText());
      return kExitOk;
    case Command::kVersion:
      Write(Stream::kOut, std::string("sorrel-resolve ") + SORREL_VERSION + "\n");
      return kExitOk;
    case Command::kDecode:
      return RunDecode(base64, options.operands);
    case Command::kEncode:
      return RunEncode(base64, options.operands);
    case Command::kHistory:
      return RunHistory(options, base64);
    case Command::kResolve:
      break;
  }
  std::vector<std::string> addresses;
  std::string error;
  if (!CollectAddresses(options, RunOrigin(options), base64, addresses, error)) {
    Write(Stream::kError, "sorrel-resolve: " + error + "\n" + UsageText());
    return kExitUsage;
  }
  return RunResolve(options, addresses);
}
