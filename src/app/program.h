// The program as every front end starts it: the program-wide state, the web
// client and the two workflows, over the platform's engines and one view.
// The window programs and the command line differ only in the view and the
// services they hand in.
#pragma once

#include "app/engine_access.h"
#include "app/platform_services.h"
#include "http/web_access.h"
#include "resolve/program_state.h"
#include "resolve/resolver.h"
#include "resolve/view.h"

namespace sorrel {

class Program {
 public:
  // `view` outlives the program. `serviceOrigin` is the service's scheme and
  // host without a trailing "/".
  Program(PlatformServices services, ResolverView& view, Text serviceOrigin);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  ProgramState& State() { return state_; }
  Resolver& Workflows() { return resolver_; }
  WebClient& Web() { return web_; }
  HttpStack& Http() { return services_.http; }
  const PlatformServices& Services() const { return services_; }
  EngineAccess Engines() const;

 private:
  // Members go in reverse order at exit: the workflows, the client, then the
  // state with its regular-expression object, and the services last.
  PlatformServices services_;
  ProgramState state_;
  WebClient web_;
  Resolver resolver_;
};

}  // namespace sorrel
