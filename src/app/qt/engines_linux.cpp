#include "app/engines.h"

#include "http/http_stack_curl_module.h"
#include "http/worker_thread.h"
#include "resolve/base64_standard.h"
#include "support/picture_qt.h"
#include "support/regex_pcre2.h"
#include "support/window_system_qt.h"
#include "text/codepage.h"

namespace sorrel {

namespace {

// libcurl is loaded at the first request, not at start.
LoadedCurlStack& Stack() {
  static auto* stack = new LoadedCurlStack();
  return *stack;
}

QtPictureCodec& Pictures() {
  static QtPictureCodec codec;
  return codec;
}

// The smallest GIF: one white pixel.
const ByteSet kPixel = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                        0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0x21, 0xf9, 0x04,
                        0x01, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00, 0x01,
                        0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};

}  // namespace

PlatformServices PlatformEngines(WindowSystem* windows, HttpStack* stack) {
  static QtWindowSystem own;
  // Qt is loaded anyway, so the window starts without mapping libcrypto.
  static const QtBase64 base64;
  return {stack ? *stack : Stack(),
          PlatformThreads(),
          [] { return MakePcre2RegexEngine(); },
          Pictures(),
          base64,
          windows ? *windows : own};
}

void WarmPlatformEngines() {
  // The module, libcurl's set-up and the cookie file behind it.
  Stack().CookieLine("http://127.0.0.1/");
  // Converters are per thread, their tables shared by the process.
  for (unsigned codePage : {kCodePageGbk, kCodePageBig5, kCodePageUtf8}) {
    EncodeCodePage(DecodeCodePage("a", codePage), codePage);
  }
  // The image plugins: the captcha is decoded and the window shows a GIF.
  Pictures().Reencode(kPixel, PictureFormat::kGif);
}

}  // namespace sorrel
