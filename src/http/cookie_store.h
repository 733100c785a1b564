// The one cookie store of the process over libcurl's shared cookie list,
// shared by every transfer on every thread; its lasting cookies can be kept
// in a cookie file between runs.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "http/cookie_file.h"
#include "http/cookie_jar.h"

namespace sorrel {

class CurlCookieStore {
 public:
  CurlCookieStore();
  CurlCookieStore(const CurlCookieStore&) = delete;
  CurlCookieStore& operator=(const CurlCookieStore&) = delete;

  // Stores a cookie as a response from `host` would set it; `data` is the
  // value with its attributes, as after the "=" of a "Set-Cookie: " line.
  bool Set(std::string_view host, std::string_view name, std::string_view data);
  // Every stored cookie, one Netscape cookie-file line each.
  std::vector<std::string> List();
  void Clear();

  CURLSH* share() const { return share_; }

  // From now on keeps the lasting cookies in the file at `path`: reads it
  // into the store at once, and writes it whenever they change and when
  // the process ends. Only the first call has an effect.
  void KeepLastingCookiesIn(const std::string& path);
  // Writes the file when the lasting cookies differ from what was last read
  // or written; does nothing while no file is kept.
  void SaveIfChanged();

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void Unlock(CURL*, curl_lock_data data, void* self);
  static void SaveAtExit();
  bool AddLine(const std::string& line);
  // Needs fileMutex_.
  void Save(bool onlyIfChanged);

  CURLSH* share_ = nullptr;
  std::mutex locks_[CURL_LOCK_DATA_LAST];
  // One handle on the shared list for every read and write of it, made
  // once: a handle of its own per call costs more than the call.
  std::mutex handleMutex_;
  CURL* handle_ = nullptr;

  std::once_flag fileOnce_;
  std::mutex fileMutex_;
  std::unique_ptr<CookieJar> jar_;
  // The lasting cookies as last read or written.
  CookieSet saved_;
};

// Created on first use and never destroyed, so that abandoned workers can
// still reach it while the process ends.
CurlCookieStore& ProcessCookieStore();

}  // namespace sorrel
