#include "options.h"

#include "captcha.h"
#include "text_util.h"

namespace sorrel::sim {
namespace {

bool ParseBounded(const std::string& option, const std::string& text, std::uint64_t max,
                  std::uint64_t& value, std::string& error) {
  if (!ParseUint(text, value) || value > max) {
    error = "bad value '" + text + "' for " + option;
    return false;
  }
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
  bool testOnlyUsed = false;
  std::string testOnlyName;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      const size_t eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    auto value = [&](std::string& out) {
      if (inlineValue) {
        out = *inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto flag = [&] {
      if (inlineValue) {
        error = "option " + name + " takes no value";
        return false;
      }
      return true;
    };
    auto testOnly = [&] {
      testOnlyUsed = true;
      testOnlyName = name;
    };

    std::string v;
    std::uint64_t n = 0;
    if (name == "--help" || name == "-h") {
      if (!flag()) return false;
      options.help = true;
    } else if (name == "--port") {
      if (!value(v) || !ParseBounded(name, v, 65535, n, error)) return false;
      options.port = static_cast<std::uint16_t>(n);
    } else if (name == "--picture") {
      if (!value(v)) return false;
      const auto format = ParsePictureFormat(v);
      if (!format) {
        error = "unknown picture format '" + v + "' (png, jpeg, gif or bmp)";
        return false;
      }
      options.picture = *format;
    } else if (name == "--file") {
      if (!value(v)) return false;
      const size_t eq = v.find('=');
      std::uint64_t id = 0;
      if (eq == std::string::npos || eq > 12 || !ParseUint(v.substr(0, eq), id) ||
          eq + 1 >= v.size()) {
        error = "--file takes ID=PATH with a decimal ID of at most 12 digits, not '" + v + "'";
        return false;
      }
      options.files.emplace_back(v.substr(0, eq), v.substr(eq + 1));
    } else if (name == "--token-seconds") {
      if (!value(v) || !ParseBounded(name, v, 86400 * 365, n, error)) return false;
      options.tokenSeconds = static_cast<int>(n);
    } else if (name == "--extra-fields") {
      if (!value(v) || !ParseBounded(name, v, 1000, n, error)) return false;
      options.extraFields = static_cast<int>(n);
    } else if (name == "--verbose") {
      if (!flag()) return false;
      options.verbose = true;
    } else if (name == "--test-mode") {
      if (!flag()) return false;
      options.testMode = true;
    } else if (name == "--fixed-code") {
      if (!value(v)) return false;
      if (v.size() > 8 || !CanDrawCode(v)) {
        error = "--fixed-code takes 1 to 8 ASCII letters and digits, not '" + v + "'";
        return false;
      }
      options.fixedCode = v;
      testOnly();
    } else if (name == "--request-log") {
      if (!value(v)) return false;
      if (v.empty()) {
        error = "--request-log needs a file name";
        return false;
      }
      options.requestLog = v;
      testOnly();
    } else if (name == "--fault") {
      if (!value(v)) return false;
      FaultRule rule;
      const size_t at = v.find('@');
      if (at != std::string::npos) {
        rule.path = v.substr(at + 1);
        if (rule.path.empty() || rule.path[0] != '/') {
          error = "--fault FAULTS@PATH needs a path starting with '/'";
          return false;
        }
      }
      if (!ParseFaults(v.substr(0, at), rule.faults, error)) return false;
      options.faults.push_back(std::move(rule));
      testOnly();
    } else {
      error = "unknown option '" + args[i] + "'";
      return false;
    }
  }
  if (testOnlyUsed && !options.testMode) {
    error = "option " + testOnlyName + " needs --test-mode";
    return false;
  }
  return true;
}

std::string UsageText() {
  return std::string(
             "Usage: sorrel-sim [OPTION]...\n"
             "A demo of the Sorrel file-hosting service on 127.0.0.1. Prints its base URL\n"
             "on the first line of standard output, then serves until SIGINT or SIGTERM.\n"
             "\n"
             "  --port N            listen on port N (default 8017; 0 picks a free port)\n"
             "  --picture FORMAT    captcha pictures as png (default), jpeg, gif or bmp\n"
             "  --file ID=PATH      also offer the file at PATH as /file/ID (repeatable)\n"
             "  --token-seconds N   download addresses stay valid N seconds (default 300)\n"
             "  --extra-fields N    N more hidden fields on every file page (default 0)\n"
             "  --verbose           one line per request on standard error\n"
             "  -h, --help          show this text and exit\n"
             "\n"
             "For tests only (each needs --test-mode):\n"
             "  --test-mode         enable the /__test/ endpoints and the options below\n"
             "  --fixed-code CODE   every captcha shows CODE (1-8 letters and digits)\n"
             "  --request-log PATH  write every request as a JSON line to PATH\n"
             "  --fault FAULTS[@PATH]\n"
             "                      misbehave on every path, or on PATH only (repeatable);\n"
             "                      FAULTS is a comma-separated list of:\n"
             "                      ") +
         std::string(kFaultNames) +
         "\n"
         "\n"
         "Exit status: 0 after a signal, 1 when the port cannot be used, 2 for a bad\n"
         "command line. tools/sorrel-sim/README.md describes every endpoint.\n";
}

}  // namespace sorrel::sim
