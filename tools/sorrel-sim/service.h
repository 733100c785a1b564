// What the demo service answers: file pages, captcha pictures, the guest
// login, downloads, and in test mode the /__test/ endpoints and faults.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "catalogue.h"
#include "http_server.h"
#include "options.h"
#include "request_log.h"

namespace sorrel::sim {

inline constexpr char kSessionCookie[] = "sorrel_sid";
inline constexpr char kCaptchaPath[] = "/randcodeV2.php";
inline constexpr char kLoginPath[] = "/guest_loginV2.php";
inline constexpr char kMovedPrefix[] = "/moved";

class Service {
 public:
  using Clock = std::chrono::steady_clock;

  Service(const Options& options, std::vector<CatalogueFile> catalogue);

  // Where the server listens ("http://127.0.0.1:8017"); download addresses start with it.
  void SetBaseUrl(std::string baseUrl) { baseUrl_ = std::move(baseUrl); }
  // Appends requests to a file as well; test mode only.
  bool OpenRequestLog(const std::string& path, std::string& error);

  Response Handle(const Request& request);

  // Hidden form values of a file, fixed for the life of the process.
  std::string HashKey(const std::string& id) const;
  std::string HashInfo(const std::string& id) const;

 private:
  struct Session {
    std::string code;  // the captcha last shown to this session; empty once used
    Clock::time_point touched;
  };
  struct Token {
    std::string fileId;
    Clock::time_point expires;
  };

  Response Route(const Request& request, const std::string& path, const Faults& faults);
  Response FilePage(const Request& request, const std::string& id);
  Response Captcha(const Request& request, const Faults& faults);
  Response Login(const Request& request, const Faults& faults);
  Response Download(const Request& request, const std::string& rest);
  Response Index();
  Response TestEndpoint(const Request& request, const std::string& name);

  // Faults for this request: run-wide rules, control-endpoint rules, the query.
  bool FaultsFor(const Request& request, const std::string& path, Faults& faults,
                 std::string& error);
  Response Redirect(const Request& request, const Faults& faults);

  // The known session named by the request's cookie, or empty.
  std::string SessionOf(const Request& request);
  std::string NewSession();
  std::string SessionCookie(const std::string& sid) const;
  std::string RandomHex(size_t bytes);

  const CatalogueFile* Find(const std::string& id) const;

  Options options_;
  std::vector<CatalogueFile> catalogue_;
  std::string baseUrl_;
  std::string secret_;
  RequestLog log_;

  std::mutex mutex_;  // guards everything below
  std::mt19937_64 rng_;
  std::map<std::string, Session> sessions_;
  std::map<std::string, Token> tokens_;
  std::string lastCode_;
  std::vector<FaultRule> controlFaults_;
};

}  // namespace sorrel::sim
