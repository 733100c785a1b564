// What hands a resolved address to a download engine, or checks it, takes
// from the program: its HTTP stack with the cookies the resolution gathered,
// its threads, and the agent its page requests present, so that the engine
// fetches the file as the tool would.
#pragma once

#include <string>
#include <string_view>

namespace sorrel {

class HttpStack;
class ThreadSystem;

struct EngineAccess {
  HttpStack& http;
  ThreadSystem& threads;
  std::string_view agent;

  // The stored cookies for `address`, as one "a=1; b=2" line.
  std::string CookieLine(std::string_view address) const;
};

}  // namespace sorrel
