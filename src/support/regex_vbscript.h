// The Windows regular-expression engine: the system's scriptable
// "VBScript.RegExp" object, driven by late-bound IDispatch calls by member
// name. The platform's engines open COM on the thread that takes them and
// close it once the last object obtained from the engine is gone.
#pragma once

#include <memory>

#include "support/regex_engine.h"

namespace sorrel {

class ComApartment;

// Null when the engine cannot be created (not registered, COM not usable on
// this thread). `apartment` is kept alive by every object the engine hands
// out; null lets the caller manage COM itself.
std::unique_ptr<RegexEngine> MakeVbScriptRegexEngine(std::shared_ptr<ComApartment> apartment);

// CoInitialize on construction, CoUninitialize on destruction, on the same
// thread; the uninitialisation is skipped when the initialisation failed.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool initialised() const { return initialised_; }

 private:
  bool initialised_;
};

}  // namespace sorrel
