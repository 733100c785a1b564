// The platform's engines for the tests that run in both builds, taken as
// the program takes them.
#pragma once

#include <memory>

#include "app/engines.h"
#include "support/regex_object.h"
#include "test_helpers/fake_stack.h"

namespace sorrel::test {

inline PlatformServices TestEngines() {
  static RecordingWindows windows;
  return PlatformEngines(&windows);
}

// On Windows each object opens COM on the calling thread for as long as it
// lives.
inline std::unique_ptr<RegexObject> PlatformRegexObject() {
  return std::make_unique<RegexObject>(TestEngines().regexEngines);
}

inline PictureCodec& PlatformPictures() { return TestEngines().pictures; }

}  // namespace sorrel::test
