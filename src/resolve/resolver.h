// The two user actions: showing a fresh captcha for the file page in the
// address box, and resolving that page into its download addresses.
#pragma once

#include <optional>
#include <utility>

#include "http/web_access.h"
#include "resolve/outcome.h"
#include "resolve/program_state.h"
#include "resolve/view.h"
#include "support/picture.h"

namespace sorrel {

class Resolver {
 public:
  // `serviceOrigin` is the service's scheme and host without a trailing "/";
  // `pictures` re-encodes the captcha picture.
  Resolver(ProgramState& state, WebClient& web, ResolverView& view, PictureCodec& pictures,
           Text serviceOrigin);

  // Runs on a click of "刷新验证码" and from the resolution itself. Each of
  // the two reports its outcome to the view when it ends.
  void RefreshCaptcha();
  // Runs on a click of "获取下载地址".
  void ResolveDownloadAddresses();

  // The captcha picture request: the picture re-encoded in `format` (3, GIF,
  // when absent), or empty bytes. `url` may receive a completed scheme.
  // `failure`, when given, receives why the request gave no answer; once
  // `stop` is set the request ends.
  ByteSet FetchCaptchaPicture(Text& url, const Text& proxy, Text& responseHeaders,
                              std::optional<int> format = {},
                              std::optional<int> timeoutSeconds = {},
                              RequestFailure* failure = nullptr, const StopFlag& stop = nullptr);

  // The road of every request of the workflows (a proxy text of
  // http/proxy.h; empty: direct), and why the last of them that failed on
  // the proxy did.
  void SetProxy(Text proxy) { proxy_ = std::move(proxy); }
  RequestFailure ProxyFailure() const { return proxyFailure_; }

  // The login form body built from `pageText` (the field harvest and its
  // joining rules) and the captcha as typed. Writes the field tables.
  Text BuildLoginBody(const Text& pageText, const Text& captcha);

 private:
  ResolveOutcome ShowFreshCaptcha();
  ResolveOutcome Resolve();
  void RestoreResolveButton();
  void NoteProxyFailure(RequestFailure failure);

  ProgramState& state_;
  WebClient& web_;
  ResolverView& view_;
  PictureCodec& pictures_;
  Text origin_;
  Text proxy_;
  RequestFailure proxyFailure_ = RequestFailure::kNone;
  // The captcha refresh under way, if any: a newer one ends its requests
  // and it ends without showing anything.
  StopFlag refreshStop_;
};

}  // namespace sorrel
