// The command line of sorrel-resolve.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "resolve/base64_standard.h"

namespace sorrel::cli {

enum class Command { kResolve, kDecode, kEncode, kHistory, kHelp, kVersion };

struct Options {
  Command command = Command::kResolve;
  // Addresses or links given as arguments, and the files named by -i, in the
  // order given ("-" is standard input).
  std::vector<std::string> operands;
  std::vector<std::string> inputFiles;
  bool json = false;
  bool quiet = false;
  int tries = 3;
  std::string origin;  // empty: the built-in one or SORREL_SERVICE_ORIGIN
  std::string captchaProgram;
  std::string captchaFile;
  // Hand each resolved file to aria2: at `aria2Address`, or to a private
  // engine when that is empty.
  bool aria2 = false;
  std::string aria2Address;
  std::string aria2SecretFile;
  std::string dir;  // the download folder for this run; empty: the engine's
  bool wait = false;
  bool check = false;
  // The input files are free text: every file page and wrapped link in
  // them is taken, and wrapped links are decoded without a request.
  bool extract = false;
  bool keepHistory = true;  // --no-history: this run leaves no entry
  // The road of every request and of the engine's downloads, as a proxy
  // text of http/proxy.h: the environment's by default, as Unix commands
  // take it. The password of --proxy-password-file joins it at the run.
  std::string proxy = "system";
  std::string proxyPasswordFile;
  // The history command: empty it, or list at most `limit` entries (0: all).
  bool clear = false;
  int limit = 0;
};

struct ParsedCommandLine {
  bool ok = false;
  Options options;
  std::string error;  // UTF-8, for standard error before the usage
};

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The whole interface, for --help; the short form for a bad command line.
const char* HelpText();
const char* UsageText();

// The proxy text of this run: --proxy with the first line of
// --proxy-password-file as its password. False with `error` set when the
// file cannot be read or its first line is empty.
bool RunProxy(const Options& options, std::string& proxy, std::string& error);

// The service origin of this run: --origin, else SORREL_SERVICE_ORIGIN or
// the built-in one. UTF-8.
std::string RunOrigin(const Options& options);

// Addresses from the arguments and the input files: one a line, blanks
// around them removed, each address once, in the order first seen. Blank
// lines and lines starting with "#" in a file are skipped; an argument is
// kept whatever it holds. With --extract the files are read whole as free
// text and give every file page of the service at `origin` and every
// wrapped link in them. False with `error` set when a file cannot be read.
bool CollectAddresses(const Options& options, std::string_view origin, const Base64Engine& base64,
                      std::vector<std::string>& addresses, std::string& error);

// Why `address` is no page that the service at `origin` (scheme and host)
// can resolve, as a sentence; empty when it may be one. The captcha and the
// login go to the service whatever the page's host, so another host's page
// is refused too.
std::string AddressProblem(std::string_view address, std::string_view origin);

}  // namespace sorrel::cli
