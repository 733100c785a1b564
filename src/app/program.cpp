#include "app/program.h"

#include <utility>

#include "http/http_stack.h"
#include "support/regex_object.h"

namespace sorrel {

std::string EngineAccess::CookieLine(std::string_view address) const {
  return http.CookieLine(address);
}

Program::Program(PlatformServices services, ResolverView& view, Text serviceOrigin)
    : services_(std::move(services)),
      state_(std::make_unique<RegexObject>(services_.regexEngines)),
      web_(services_.http, view, services_.windows, services_.threads),
      resolver_(state_, web_, view, services_.pictures, std::move(serviceOrigin)) {}

EngineAccess Program::Engines() const {
  return {services_.http, services_.threads, kPageUserAgent};
}

}  // namespace sorrel
