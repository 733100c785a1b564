#include "app/engines.h"

#include <memory>

#include "http/http_stack_wininet.h"
#include "http/worker_thread.h"
#include "resolve/base64_standard.h"
#include "support/picture_gdiplus.h"
#include "support/regex_vbscript.h"
#include "support/window_system_win32.h"

namespace sorrel {

PlatformServices PlatformEngines(WindowSystem* windows, HttpStack* stack) {
  static auto* ownStack = new WinInetHttpStack();
  static GdiplusPictureCodec pictures;
  static Win32WindowSystem ownWindows;
  // The window imports no DLL beyond the system's core set, and the
  // system's Base64 lives in crypt32.
  static const OwnBase64 base64;
  // Every automation object the engines hand out holds the apartment, so
  // COM is uninitialised after the last of them.
  auto apartment = std::make_shared<ComApartment>();
  return {stack ? *stack : *ownStack,
          PlatformThreads(),
          [apartment] { return MakeVbScriptRegexEngine(apartment); },
          pictures,
          base64,
          windows ? *windows : ownWindows};
}

// WinInet, GDI+ and the code-page tables are the system's, mapped at start.
void WarmPlatformEngines() {}

}  // namespace sorrel
