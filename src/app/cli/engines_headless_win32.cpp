#include "app/cli/engines_headless.h"

#include <memory>

#include "app/cli/no_windows.h"
#include "http/http_stack_wininet.h"
#include "http/worker_thread.h"
#include "resolve/base64_standard.h"
#include "support/picture_gdiplus.h"
#include "support/regex_vbscript.h"

namespace sorrel {

// WinInet keeps no cookie file of its own to warn of: `quiet` has nothing
// to silence here.
PlatformServices HeadlessPlatformEngines(bool) {
  static auto* stack = new WinInetHttpStack();
  static GdiplusPictureCodec pictures;
  static NoWindows noWindows;
  static const Win32Base64 base64;
  // Every automation object the engines hand out holds the apartment, so
  // COM is uninitialised after the last of them.
  auto apartment = std::make_shared<ComApartment>();
  return {*stack,
          PlatformThreads(),
          [apartment] { return MakeVbScriptRegexEngine(apartment); },
          pictures,
          base64,
          noWindows};
}

}  // namespace sorrel
