// The Windows regular-expression engine: the system's scriptable
// "VBScript.RegExp" object, driven by late-bound IDispatch calls by member
// name. COM is initialised on the thread that makes the platform's
// RegexObject and uninitialised once the last object obtained from the
// engine is gone.
#pragma once

#include <memory>

#include "support/regex_engine.h"
#include "support/regex_object.h"

namespace sorrel {

class ComApartment;

// Null when the engine cannot be created (not registered, COM not usable on
// this thread). `apartment` is kept alive by every object the engine hands
// out; null lets the caller manage COM itself.
std::unique_ptr<RegexEngine> MakeVbScriptRegexEngine(std::shared_ptr<ComApartment> apartment);

// The engine for a caller that manages COM on its thread itself, and a
// RegexObject that opens COM on the calling thread and keeps it open while
// it or anything it handed out lives.
std::unique_ptr<RegexEngine> MakePlatformRegexEngine();
std::unique_ptr<RegexObject> MakePlatformRegexObject();

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
