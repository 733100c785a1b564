// A client of a download engine's JSON-RPC interface (aria2), over the
// program's own HTTP stack. Every call is one request; nothing is retried.
// Texts are UTF-8.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace sorrel {

class HttpStack;
class ThreadSystem;

struct Aria2Endpoint {
  std::string address;  // the JSON-RPC address, e.g. "http://127.0.0.1:6800/jsonrpc"
  std::string secret;   // empty when the engine has none
  // The tool's own engine: the user has nothing to set up when it fails.
  bool own = false;
};

enum class Aria2Failure {
  kNone,
  kBadAddress,    // the engine's address is no http(s) address
  kUnreachable,   // nothing answers there
  kTimedOut,      // it connected but gave no answer in time
  kNotJsonRpc,    // something answered, not a JSON-RPC engine
  kUnauthorized,  // the secret is wrong or missing
  kRefused,       // the engine answered with an error of its own
  kNotDownload,   // the download address is no absolute http(s) address; nothing was sent
  kNotStarted,    // the tool's own engine could not be started
};

struct Aria2Error {
  Aria2Failure failure = Aria2Failure::kNone;
  std::string message;  // a Chinese sentence for the user
};

// What the engine is asked to fetch, and how to fetch it as the tool would.
// Cookies never travel as a header: aria2 repeats headers on redirects to
// other hosts. Only the tool's own engine gets them, scoped to their host.
struct Aria2Download {
  std::string address;   // the normal download address
  std::string fileName;  // the "out" option; already safe
  std::string dir;       // empty: the engine's own folder
  std::string referer;   // the file page address
  std::string userAgent;
  // The HTTP proxy the engine fetches through ("http://host:port"), with its
  // user and password; empty: the engine's own setting.
  std::string proxy;
  std::string proxyUser;
  std::string proxyPassword;
  // Added again after its address expired: the same `dir` and `out` taken
  // up where its control file says, never under another name, and never a
  // file without a control file written into.
  bool resume = false;
};

struct Aria2Status {
  std::string gid;
  std::string status;  // active, waiting, paused, error, complete, removed
  long long totalLength = 0;
  long long completedLength = 0;
  long long downloadSpeed = 0;
  std::string errorCode;
  std::string errorMessage;
  std::string dir;
  std::string path;               // of the first file, when known
  std::vector<std::string> uris;  // of the first file, in use or waiting, repeats kept
};

// True for an absolute http:// or https:// address with a host and nothing
// a request line cannot carry: the only addresses handed to an engine.
bool IsDownloadAddress(std::string_view address);
// The host of such an address, lower-cased, without brackets or port.
std::string DownloadHost(std::string_view address);
// "下载地址不是 http:// 或 https:// 地址，没有交给 aria2。"
std::string NotDownloadSentence();

// True for a plain http:// engine address whose host is not this machine's
// loopback: the secret and the addresses would cross the network unencrypted.
bool Aria2AddressInClear(std::string_view address);
// The warning shown once for such an address.
std::string Aria2InClearWarning();

// Why a download ended in aria2's "error" state: a Chinese sentence for its
// common errors, followed by aria2's own words.
std::string Aria2DownloadFailure(const Aria2Status& status);

class Aria2Client {
 public:
  // The stack must outlive the client and any request it abandoned.
  Aria2Client(HttpStack& stack, ThreadSystem& threads, Aria2Endpoint endpoint,
              std::uint32_t timeoutMs = 10000);

  // The new download's GID, or empty with `error` set.
  std::string AddUri(const Aria2Download& download, Aria2Error& error);
  bool TellStatus(std::string_view gid, Aria2Status& status, Aria2Error& error);
  // Takes `removed` (each listed once per time it is to go) from the first
  // file's addresses and adds `added`: an active download leaves an
  // address it uses for the new one, keeping what it has.
  bool ChangeUri(std::string_view gid, const std::vector<std::string>& removed,
                 const std::vector<std::string>& added, Aria2Error& error);
  // Ends a download at once; its files stay.
  bool Remove(std::string_view gid, Aria2Error& error);
  // Asks the engine to end once it has closed its downloads' files, where
  // no signal can ask it (Windows).
  bool Shutdown(Aria2Error& error);
  // Ends a download once its connections have closed; its files stay.
  bool Cancel(std::string_view gid, Aria2Error& error);
  // A download waits without connections until it is let go on; an active
  // one gets there once its connections have closed.
  bool Pause(std::string_view gid, Aria2Error& error);
  bool Unpause(std::string_view gid, Aria2Error& error);
  // Forgets a download that has ended; refused while it has not.
  bool RemoveDownloadResult(std::string_view gid, Aria2Error& error);
  // The engine's version, or empty with `error` set.
  std::string GetVersion(Aria2Error& error);

  const Aria2Endpoint& Endpoint() const { return endpoint_; }

 private:
  // The "result" member of the answer, or null with `error` set.
  nlohmann::json Call(std::string_view method, nlohmann::json params, Aria2Error& error);

  HttpStack& stack_;
  ThreadSystem& threads_;
  Aria2Endpoint endpoint_;
  std::uint32_t timeoutMs_;
  unsigned long long nextId_ = 1;
};

// The request body of one call, as it goes out: params are the JSON text of
// the parameters after the secret's "token:".
std::string Aria2RequestBody(std::string_view method, std::string_view id, std::string_view secret,
                             std::string_view paramsJson);
// The parameters of aria2.addUri, without the secret.
std::string Aria2AddUriParams(const Aria2Download& download);
// The parameters of aria2.changeUri for the first file, without the secret.
std::string Aria2ChangeUriParams(std::string_view gid, const std::vector<std::string>& removed,
                                 const std::vector<std::string>& added);

}  // namespace sorrel
