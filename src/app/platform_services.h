// Every engine of the platform that the program runs on, handed to the
// program in one place. Each front end fills it once at start; nothing in
// the portable code reaches a platform engine any other way.
#pragma once

#include <functional>
#include <memory>

namespace sorrel {

class Base64Engine;
class HttpStack;
class PictureCodec;
class RegexEngine;
class ThreadSystem;
class WindowSystem;

struct PlatformServices {
  // The stack and the threads must outlive the program: a timed request
  // abandoned at its time-out may still be using them.
  HttpStack& http;
  ThreadSystem& threads;
  // Called for every search of the program's regular-expression object;
  // null results make that search fail.
  std::function<std::unique_ptr<RegexEngine>()> regexEngines;
  // Re-encodes the captcha picture into a format the front end shows.
  PictureCodec& pictures;
  // Wraps and unwraps the links of download managers.
  const Base64Engine& base64;
  // The desktop as the notice boxes of the requests see it.
  WindowSystem& windows;
};

}  // namespace sorrel
