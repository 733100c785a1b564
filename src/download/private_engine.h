// A download engine (aria2c) of the tool's own: started from PATH, its
// JSON-RPC port on loopback only and checked to be the engine's before the
// secret goes out, a fresh random secret handed over in a private file
// rather than on its command line (which every local user can read), bound
// to the tool's process so it never outlives it. It resumes nothing of
// earlier runs, never becomes a peer, and writes only files of its own
// downloads. One implementation per platform beside this header.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "download/aria2_client.h"

namespace sorrel {

// The cookies an engine sends to one host only (never to a host a download
// is redirected to).
struct HostCookies {
  std::string host;         // lower-case, as DownloadHost() gives it
  std::string line;         // "a=1; b=2"
  bool secureOnly = false;  // sent over https only
};

struct PrivateEngineOptions {
  std::string program = "aria2c";  // looked up in PATH unless it holds a "/"
  std::string downloadDir;         // empty: UserDownloadDir()
  std::string dataDir;             // empty: $XDG_DATA_HOME/sorrel-resolver
  HostCookies cookies;             // none when the line is empty
  std::vector<int> rpcPorts;       // tried first (tests); then ports the system picks
  // The environment's proxy variables reach the engine only when the user
  // chose the system's proxy; otherwise its downloads would take a road the
  // user did not choose.
  bool environmentProxy = false;
};

class PrivateEngine {
 public:
  // Null with `error` (a Chinese sentence, UTF-8) when the engine cannot be
  // started or does not answer.
  static std::unique_ptr<PrivateEngine> Start(HttpStack& stack, ThreadSystem& threads,
                                              const PrivateEngineOptions& options,
                                              std::string& error);
  virtual ~PrivateEngine() = default;

  virtual const Aria2Endpoint& Endpoint() const = 0;
  virtual const std::string& DownloadDir() const = 0;
  virtual long ProcessId() const = 0;
  // False once the engine has ended; its process is reaped then.
  virtual bool Running() = 0;
};

// The user's download folder: `xdg-user-dir DOWNLOAD`, else ~/Downloads.
std::string UserDownloadDir();
// Where the tool keeps the engine's private files: $XDG_DATA_HOME/sorrel-resolver.
std::string EngineDataDir();

// A file name in a folder held for one download: no file of that name, no
// partial download of it (its ".aria2" control file) and no other run of
// the tool holding it when it was chosen. The hold ends with the object.
class NameHold {
 public:
  virtual ~NameHold() = default;
  virtual const std::string& Name() const = 0;
};

// `name` itself, else "stem.1.ext", "stem.2.ext", ... as aria2 names them.
// A partial file is passed over and left as it is: resuming it with a fresh
// address is for the caller to choose. Null when `dir` cannot be used.
std::unique_ptr<NameHold> HoldFileName(const std::string& dir, const std::string& name,
                                       const std::string& dataDir);

// The tool's own engine for a front end: started at the first download,
// started again at the next one after it ended.
class PrivateEngineKeeper {
 public:
  // The stack and threads must outlive the keeper.
  PrivateEngineKeeper(HttpStack& stack, ThreadSystem& threads, PrivateEngineOptions options);
  ~PrivateEngineKeeper();

  // Hands a download over: its file name made one that is the download's
  // alone (`download.fileName` becomes it) in its folder (the engine's when
  // `download.dir` is empty; `download.dir` becomes it), and an engine
  // started first when none runs, with the cookies of `cookieLine` for the
  // download's host. An engine keeps the cookies it was started with. The
  // new download's GID, or empty with `error`.
  std::string Add(Aria2Download& download, const std::string& cookieLine, Aria2Error& error);
  // Hands a download over again under its own `dir` and `fileName`, taken
  // up where its control file says (`download.resume`); an engine started
  // first when none runs. The new GID, or empty with `error`.
  std::string AddAgain(const Aria2Download& download, const std::string& cookieLine,
                       Aria2Error& error);
  // The client of the engine last started; null before the first start.
  Aria2Client* Client() { return client_.get(); }
  // False when no engine runs; an engine that ended is reaped here.
  bool Running();
  // The running engine's process; 0 when none runs.
  long ProcessId() { return Running() ? engine_->ProcessId() : 0; }
  const std::string& DownloadDir() const { return dir_; }

 private:
  // A running engine and its client; false with `error` when none starts.
  bool Started(const Aria2Download& download, const std::string& cookieLine, Aria2Error& error);

  HttpStack& stack_;
  ThreadSystem& threads_;
  PrivateEngineOptions options_;
  std::string dir_;
  std::string dataDir_;
  std::unique_ptr<PrivateEngine> engine_;
  std::unique_ptr<Aria2Client> client_;
  // Names held until their download has made its file (the path).
  std::vector<std::pair<std::string, std::unique_ptr<NameHold>>> holds_;
};

}  // namespace sorrel
