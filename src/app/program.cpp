#include "app/program.h"

#include <utility>

#include "support/regex_object.h"

namespace sorrel {

Program::Program(PlatformServices services, ResolverView& view, Text serviceOrigin)
    : services_(std::move(services)),
      state_(std::make_unique<RegexObject>(services_.regexEngines)),
      web_(services_.http, view, services_.windows, services_.threads),
      resolver_(state_, web_, view, services_.pictures, std::move(serviceOrigin)) {}

}  // namespace sorrel
